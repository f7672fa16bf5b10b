// Colour rules of the colour memo: keywords, begin/end spans, spans to the end of the line, and
// segments supplied by the owner. Rules are compiled into small tables before a paint pass and
// append their segments to the memo's segment list during it.
#pragma once

#include "memotypes.h"

#include <QStringList>
#include <QStringView>

#include <array>
#include <functional>
#include <memory>
#include <span>
#include <vector>

class TColorMemoCore;
class TColorRule;

enum TKeyDrawingType : std::uint8_t {
    dtKeyShow = 0,       // the keyword list Keywords
    dtEventDraw = 1,     // the memo's OnDraw event
    dtBeginEnd = 2,      // the begin/end list KeyBegEndLst
    dtBeginLineEnd = 3,  // the line-end list KeyLineEndLst
};

// Supplies the segments of a dtEventDraw rule. FromPos is the scanned text (from the scan start
// to the end of the visible text); the handler fills A from its first record on, with positions
// counted from the start of FromPos, and sets ItemsCount to the number filled. A ZOrder of 0
// takes the rule's own.
using TDrawEvent = std::function<void(TColorRule* Sender, QStringView FromPos,
                                      std::span<TKeyDescr> A, int& ItemsCount)>;

// A colour name ("Navy", "lime", ...) or a hexadecimal RRGGBB value ("#FF0000", "FF0000",
// "$FF0000") in the platform's form; white when the text is neither.
TColor ParseColor(const QString& text);

// One compiled line of KeyBegEndLst or KeyLineEndLst. An empty BegStr ends the table.
struct TKeyEntry {
    QString BegStr;
    QString EndStr;
    TColor Color = 0;
    int FoundAt = -1;
};

class TDrawRules;

class TColorRule {
public:
    static constexpr int KeyTableSize = 40;
    static constexpr int KeyColorsMax = 41;
    static constexpr int MarkLength = 6;   // begin and end strings are cut to this length

    // Joins the collection.
    explicit TColorRule(TDrawRules* collection = nullptr);
    TColorRule(const TColorRule&) = delete;
    TColorRule& operator=(const TColorRule&) = delete;

    std::uint8_t ZOrder = 0;
    QString IntChar;                       // stored only
    int KeyMaxHeight = 1;
    TKeyDrawingType KeyDrawingType = dtBeginEnd;
    bool KeyCase = false;
    bool Enabled = true;
    bool PartWord = false;
    TColor DefKeyColor = clRed;
    TColor KeySelColor = clYellow;         // stored only
    TColor KeyBrushColor = clWindow;       // stored only

    // The three definition lists. The references allow editing in place; the compiled state
    // then catches up at the next compile. The setters compile the given list at once.
    QStringList& Keywords() { return FKeywords; }
    const QStringList& Keywords() const { return FKeywords; }
    void SetKeywords(const QStringList& value);
    QStringList& KeyBegEndLst() { return FKeyBegEndLst; }
    const QStringList& KeyBegEndLst() const { return FKeyBegEndLst; }
    void SetKeyBegEndLst(const QStringList& value);
    QStringList& KeyLineEndLst() { return FKeyLineEndLst; }
    const QStringList& KeyLineEndLst() const { return FKeyLineEndLst; }
    void SetKeyLineEndLst(const QStringList& value);

    // Copies the settings and lists of another rule (not KeySelColor and IntChar).
    void Assign(const TColorRule& source);

    // Rebuilds the compiled state from the rule's own lists; true when the rule has entries.
    bool Compile();

    // Appends the rule's segments for text[scanStart, endPos) to keyList from index on and
    // returns the index after its last segment.
    int FindKeys(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                 int scanStart);

    TDrawRules* Collection() const { return FCollection; }
    TColorMemoCore* Memo() const { return FMemo; }

    // Compiled state.
    const QString& KeyString() const { return FKeyString; }
    const std::vector<TColor>& KeyColors() const { return FKeyColors; }
    // Null until a begin/end or line-end list has been compiled.
    const std::array<TKeyEntry, KeyTableSize>* KeyTable() const { return FKeyTable.get(); }

private:
    friend class TDrawRules;

    void CompileKeywords(const QStringList& list);
    void CompileBegEnd(const QStringList& list);
    void CompileLineEnd(const QStringList& list);
    std::array<TKeyEntry, KeyTableSize>& ClearedKeyTable();
    TColor LineColor(const QString& colorPart) const;

    int FindKeywords(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                     int scanStart);
    int FindSpans(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                  int scanStart, bool toLineEnd);
    int FindByEvent(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                    int scanStart);
    int Append(int index, TKeyDescrList& keyList, int begPos, int endPos, TColor color,
               std::uint8_t zOrder, bool isKey);

    TDrawRules* FCollection = nullptr;
    TColorMemoCore* FMemo = nullptr;
    QStringList FKeywords;
    QStringList FKeyBegEndLst;
    QStringList FKeyLineEndLst;
    QString FKeyString;
    std::vector<TColor> FKeyColors;
    std::unique_ptr<std::array<TKeyEntry, KeyTableSize>> FKeyTable;
    QString FUpperText;
};

// The memo's rules, in order.
class TDrawRules {
public:
    explicit TDrawRules(TColorMemoCore* memo = nullptr) : FMemo(memo) {}
    TDrawRules(const TDrawRules&) = delete;
    TDrawRules& operator=(const TDrawRules&) = delete;

    TColorMemoCore* Memo() const { return FMemo; }
    bool NeedCompile = true;

    int Count() const { return int(FItems.size()); }
    TColorRule& Items(int index) { return *FItems[size_t(index)]; }
    const TColorRule& Items(int index) const { return *FItems[size_t(index)]; }
    TColorRule& operator[](int index) { return Items(index); }
    TColorRule* Add() { return new TColorRule(this); }
    void Delete(int index);
    void Clear() { FItems.clear(); }

    // Replaces the rules by copies of the source's.
    void Assign(const TDrawRules& source);

    // Compiles every rule when NeedCompile is set; while some rule has entries this happens on
    // every second call, otherwise on every call.
    void CompileRules();

private:
    friend class TColorRule;
    TColorMemoCore* FMemo;
    std::vector<std::unique_ptr<TColorRule>> FItems;
};
