#include "dialogs/resolve.h"

#include "app/application.h"
#include "platform/com/combase.h"
#include "platform/oleauto/comptr.h"
#include "index/libindex.h"
#include "ui_resolve.h"

#include <QKeyEvent>

#include <stdexcept>
#include <string_view>

namespace {

// A failing status, with the system's text for it.
class EOleSysError : public std::runtime_error {
public:
    explicit EOleSysError(HRESULT hr) : std::runtime_error(Text(hr)) {}

    static std::string Text(HRESULT hr) {
        std::string text = SysErrorMessage(hr);
        if (text.empty()) text = QString::asprintf("OLE error %.8x", unsigned(hr)).toStdString();
        return text;
    }
};

QString FromUtf16(std::u16string_view s) { return QString::fromUtf16(s.data(), qsizetype(s.size())); }

}  // namespace

struct TResolveForm::TClassMap {
    bool Built = false;
    TClassLibraryMap Libraries;
};

namespace {

// The map of the dialog open on this thread.
thread_local TResolveForm::TClassMap* g_classMap = nullptr;

}  // namespace

std::string LocateClassLibrary(const CLSID& clsid) {
    TResolveForm::TClassMap* map = g_classMap;
    if (!map) return RegisteredLibraryDeclaringClsid(clsid).toStdString();
    if (!map->Built) {
        map->Built = true;
        TIndexSources sources;
        sources.Registered = true;
        map->Libraries = BuildLibraryIndex(sources, IndexCachePath())->ClassLibraries();
    }
    const auto it = map->Libraries.find(clsid);
    return it == map->Libraries.end() ? std::string() : it->second.toStdString();
}

TResolveForm::TResolveForm(QWidget* owner, std::function<void(const QString&)> openTypeLib)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TResolveForm>()) {
    if (openTypeLib) FOpenTypeLib = [open = std::move(openTypeLib)](const QString& path, const QString&) { open(path); };
    Setup();
}

TResolveForm::TResolveForm(QWidget* owner, std::function<void(const QString&, const QString&)> openTypeLib)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      ui(std::make_unique<Ui::TResolveForm>()), FOpenTypeLib(std::move(openTypeLib)) {
    Setup();
}

void TResolveForm::Setup() {
    FClassMap = std::make_unique<TClassMap>();
    FOuterMap = g_classMap;
    g_classMap = FClassMap.get();
    ui->setupUi(this);
    txtProgID = ui->txtProgID;
    btnResolve = ui->btnResolve;
    gbTypeLib = ui->gbTypeLib;
    lblLocation = ui->lblLocation;
    btnOpen = ui->btnOpen;
    btnCancel = ui->btnCancel;
    setFixedSize(386, 140);
    txtProgID->setFocus();

    connect(txtProgID, &QLineEdit::textChanged, this, &TResolveForm::txtProgIDChange);
    connect(btnResolve, &QPushButton::clicked, this, &TResolveForm::btnResolveClick);
    connect(btnOpen, &QPushButton::clicked, this, &TResolveForm::btnOpenClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    txtProgID->installEventFilter(this);

    ResetResult();
}

TResolveForm::~TResolveForm() {
    if (g_classMap == FClassMap.get()) g_classMap = FOuterMap;
}

void TResolveForm::ResetResult() {
    LibraryPath.clear();
    ClassName.clear();
    gbTypeLib->setTitle(QString());
    lblLocation->setText(QString());
    lblLocation->adjustSize();
    btnOpen->setEnabled(false);
}

void TResolveForm::txtProgIDChange() { btnResolve->setEnabled(!txtProgID->text().isEmpty()); }

bool TResolveForm::txtProgIDKeyPress(int key) {
    if ((key != Qt::Key_Return && key != Qt::Key_Enter) || txtProgID->text().isEmpty()) return false;
    btnResolveClick();
    return true;
}

bool TResolveForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtProgID && event->type() == QEvent::KeyPress &&
        txtProgIDKeyPress(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TResolveForm::btnResolveClick() {
    ResetResult();
    THourglass hourglass;
    try {
        const std::u16string progID = txtProgID->text().toStdU16String();
        CLSID clsid{};
        HRESULT hr = CLSIDFromProgID(progID.c_str(), &clsid);
        if (FAILED(hr)) throw EOleSysError(hr);
        ComPtr<IDispatch> object;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(object.Put()));
        if (FAILED(hr)) throw EOleSysError(hr);
        if (!object) throw EOleSysError(E_POINTER);

        // Each step runs only when every earlier one gave S_OK; the status that stopped the
        // chain is kept.
        HRESULT status = S_OK;
        bool noLibrary = false;
        {
            ComPtr<ITypeInfo> typeInfo;
            ComPtr<ITypeLib> typeLib;
            LibAttrPtr attr;
            status = object->GetTypeInfo(0, LOCALE_SYSTEM_DEFAULT, typeInfo.Put());
            if (status == S_OK && !typeInfo) status = E_POINTER;
            // A class whose registration names no library, and that no registered library
            // declares: say so rather than give the bare status.
            if (status == DISP_E_BADINDEX) {
                ComPtr<ITypeLib> declaring;
                if (FAILED(LibraryDeclaringClass(clsid, &declaring))) noLibrary = true;
            }
            UINT index = 0;
            if (status == S_OK) status = typeInfo->GetContainingTypeLib(typeLib.Put(), &index);
            if (status == S_OK && !typeLib) status = E_POINTER;
            if (status == S_OK) status = typeLib->GetLibAttr(attr.Put(typeLib.Get()));
            if (status == S_OK && !attr) status = E_POINTER;
            if (status == S_OK) {
                BStr path;
                status = QueryPathOfRegTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum,
                                               attr->lcid, path.Put());
                if (status == S_OK) {
                    // The returned length may count a trailing NUL: shown as returned, stored
                    // without it.
                    const std::u16string_view returned = path.View();
                    lblLocation->setText(FromUtf16(returned));
                    lblLocation->adjustSize();
                    LibraryPath = FromUtf16(returned.substr(0, returned.find(u'\0')));
                    // The coclass the ProgID names, to select when the library is opened.
                    ComPtr<ITypeInfo> coclass;
                    TypeAttrPtr classAttr;
                    BStr className;
                    if (SUCCEEDED(typeLib->GetTypeInfoOfGuid(clsid, coclass.Put())) && coclass &&
                        SUCCEEDED(coclass->GetTypeAttr(classAttr.Put(coclass.Get()))) && classAttr &&
                        classAttr->typekind == TKIND_COCLASS &&
                        SUCCEEDED(coclass->GetDocumentation(MEMBERID_NIL, className.Put(), nullptr, nullptr, nullptr)))
                        ClassName = FromUtf16(className.View());
                    BStr doc;
                    if (typeLib->GetDocumentation(-1, nullptr, doc.Put(), nullptr, nullptr) == S_OK)
                        gbTypeLib->setTitle(FromUtf16(doc.View()));
                    else
                        gbTypeLib->setTitle(QStringLiteral("Unknown Type Library"));
                    btnOpen->setEnabled(true);
                    btnOpen->setFocus();
                }
            }
            // The attributes, the library and the type information go here, in that order.
        }
        QuitServer(object.Get());
        object.Reset();
        if (FAILED(status) && noLibrary)
            throw std::runtime_error("No registered library declares the class.");
        if (FAILED(status)) throw EOleSysError(status);
    } catch (const std::exception& e) {
        lblLocation->setText(QString::fromUtf8(e.what()));
        lblLocation->adjustSize();
    }
}

void TResolveForm::btnOpenClick() {
    // The dialog closes whether or not the library opens; a failure is the caller's to show.
    accept();
    if (LibraryPath.isEmpty() || !FOpenTypeLib) return;
    THourglass hourglass;
    FOpenTypeLib(LibraryPath, ClassName);
}

void TResolveForm::QuitServer(IDispatch* object) {
    if (!object) return;
    std::u16string name = u"Quit";
    LPOLESTR names[1] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_SYSTEM_DEFAULT, &id))) return;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    object->Invoke(id, IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
}
