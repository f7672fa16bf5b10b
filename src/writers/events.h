// Event templates: the class file with one handler per chosen event of an event interface,
// and writing such a file.
#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <stdexcept>

struct ITypeInfo;
struct TYPEDESC;

// Builds the class-file text for an event interface at construction; read it with Lines().
class TEventTemplate {
public:
    // EventNames are the events that get a handler (letter case ignored); an empty list
    // chooses none. A null TypeInfo gives the class without handlers.
    TEventTemplate(const QString& ClassName, const QStringList& EventNames, ITypeInfo* TypeInfo,
                   bool LineNumbers);
    TEventTemplate(const TEventTemplate&) = delete;
    TEventTemplate& operator=(const TEventTemplate&) = delete;

    const QStringList& Lines() const { return DeclarationLines; }

private:
    void Build(ITypeInfo* TypeInfo);
    void AddEventHandlers(ITypeInfo* TypeInfo);
    void AddEventHandler(ITypeInfo* TypeInfo, int Index);
    void AddInsertCodeMarker();

    bool LineNumbers;
    QString ClassName;
    QSet<QString> EventNames;     // case-folded
    QStringList DeclarationLines;  // the result once built
    QStringList BodyLines;
    QSet<QString> SkippedNames;    // case-folded
};

// The three-letter type tag of a parameter type: "int", "dbl", "str", "obj", "var" or "unk".
// User-defined types are looked up through TypeInfo, the type that holds the parameter.
QString EventParamTypeTag(ITypeInfo* TypeInfo, const TYPEDESC& Desc);

// A class file that could not be written; what() is the message for the user (UTF-8).
class EClassFileError : public std::runtime_error {
public:
    explicit EClassFileError(const std::string& Message, const std::string& Detail = {})
        : std::runtime_error(Message), FDetail(Detail.empty() ? Message : Detail) {}
    // The message with the file and the reason, e.g. "Stream write error: PATH: No space left
    // on device" (for the command line, where what() alone would not say which or why).
    const std::string& Detail() const { return FDetail; }

private:
    std::string FDetail;
};

// The bytes of a class file: every line in UTF-8 followed by CR LF, the last one included.
QByteArray ClassFileText(const QStringList& Lines);

// Creates or replaces FileName with Text. For a missing or regular file (also through a
// symbolic link) the text goes to a temporary file beside the target that is renamed over it
// at the end, so a failure leaves any previous file as it was; a FIFO or a character device is
// written directly; anything else is refused. Throws EClassFileError: "Cannot create file
// <name>" or "Stream write error", its Detail() naming the file and the reason.
void WriteClassFile(const QString& FileName, const QByteArray& Text);

// The class name a file name gives: the name without its folder and last extension.
QString ClassNameFromFileName(const QString& FileName);
