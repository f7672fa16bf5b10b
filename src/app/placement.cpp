#include "app/placement.h"

#include "platform/registry/registry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace {

// Room left between the main window and the window beside it.
constexpr int kGap = 8;

int Overlap(const QRect& a, const QRect& b) {
    const QRect i = a.intersected(b);
    return i.isEmpty() ? 0 : i.width() * i.height();
}

// Moves a rectangle the least distance that puts it inside `screen` (its top-left when it is
// larger than the screen).
QRect Clamped(QRect r, const QRect& screen) {
    if (r.right() > screen.right()) r.moveRight(screen.right());
    if (r.bottom() > screen.bottom()) r.moveBottom(screen.bottom());
    if (r.left() < screen.left()) r.moveLeft(screen.left());
    if (r.top() < screen.top()) r.moveTop(screen.top());
    return r;
}

std::vector<QRect> AvailableScreens() {
    std::vector<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) screens.push_back(s->availableGeometry());
    return screens;
}

}  // namespace

QRect PlaceBeside(const QRect& anchor, const QSize& size, const QSize& minimum, const QRect& screen) {
    // The free strips right of, below, left of and above the anchor, in that order of preference.
    const QRect strips[] = {
        QRect(QPoint(anchor.right() + 1 + kGap, screen.top()), screen.bottomRight()),
        QRect(QPoint(screen.left(), anchor.bottom() + 1 + kGap), screen.bottomRight()),
        QRect(screen.topLeft(), QPoint(anchor.left() - 1 - kGap, screen.bottom())),
        QRect(screen.topLeft(), QPoint(screen.right(), anchor.top() - 1 - kGap)),
    };
    // Where the window goes in a strip: level with the anchor's top (or left) edge, kept inside.
    const auto inStrip = [&](int i, const QSize& s) {
        const QPoint at = i == 0 ? QPoint(strips[0].left(), anchor.top())
                        : i == 1 ? QPoint(anchor.left(), strips[1].top())
                        : i == 2 ? QPoint(strips[2].right() + 1 - s.width(), anchor.top())
                                 : QPoint(anchor.left(), strips[3].bottom() + 1 - s.height());
        return Clamped(QRect(at, s), strips[i]);
    };
    // The first strip the whole window fits in.
    for (int i = 0; i < 4; ++i)
        if (strips[i].width() >= size.width() && strips[i].height() >= size.height()) return inStrip(i, size);
    // Else the strip where the window, made smaller down to its minimum, keeps the most of its area.
    int best = -1;
    qint64 bestArea = 0;
    for (int i = 0; i < 4; ++i) {
        const QSize fitted = size.boundedTo(strips[i].size());
        if (fitted.width() < minimum.width() || fitted.height() < minimum.height()) continue;
        const qint64 area = qint64(fitted.width()) * fitted.height();
        if (area > bestArea + bestArea / 10) {  // an earlier side wins unless clearly smaller
            best = i;
            bestArea = area;
        }
    }
    if (best >= 0) return inStrip(best, size.boundedTo(strips[best].size()));
    // No room anywhere: on screen, where it covers the least of the anchor.
    QRect chosen;
    int least = -1;
    for (int i = 0; i < 4; ++i) {
        QRect r = inStrip(i, size);
        r = Clamped(r, screen);
        const int overlap = Overlap(r, anchor);
        if (least < 0 || overlap < least) {
            chosen = r;
            least = overlap;
        }
    }
    return chosen;
}

bool FitsScreens(const QRect& frame, const std::vector<QRect>& screens) {
    return std::any_of(screens.begin(), screens.end(), [&](const QRect& s) { return s.contains(frame); });
}

bool LoadWindowPlace(const QString& name, QRect* frame) {
    std::string text;
    if (!RegReadString(HKEY_CURRENT_USER, WindowPlacesKey, name.toStdString().c_str(), &text)) return false;
    const QStringList parts = QString::fromStdString(text).split(QLatin1Char(','));
    if (parts.size() != 4) return false;
    int v[4];
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        v[i] = parts[i].trimmed().toInt(&ok);
        if (!ok) return false;
    }
    if (v[2] <= 0 || v[3] <= 0 || v[2] > 100000 || v[3] > 100000) return false;
    *frame = QRect(v[0], v[1], v[2], v[3]);
    return true;
}

bool SaveWindowPlace(const QString& name, const QRect& frame) {
    ScopedHKEY key;
    if (RegCreateKeyEx(HKEY_CURRENT_USER, WindowPlacesKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                       nullptr, key.Put(), nullptr) != ERROR_SUCCESS)
        return false;
    const QString text = QStringLiteral("%1,%2,%3,%4").arg(frame.x()).arg(frame.y()).arg(frame.width()).arg(frame.height());
    if (RegWriteString(key.Get(), name.toStdString().c_str(), text.toStdString()) != ERROR_SUCCESS) return false;
    return key.Reset() == ERROR_SUCCESS;
}

TWindowPlacer::TWindowPlacer(QWidget* window, QWidget* anchor, const QString& name, bool resizable)
    : QObject(window), FWindow(window), FAnchor(anchor), FName(name), FResizable(resizable) {
    setObjectName(QStringLiteral("placer"));
    window->installEventFilter(this);
}

TWindowPlacer* TWindowPlacer::Of(const QWidget* window) {
    return window ? window->findChild<TWindowPlacer*>(QStringLiteral("placer"), Qt::FindDirectChildrenOnly) : nullptr;
}

void TWindowPlacer::Place() {
    FPlaced = true;
    // A window owned by the main window would be kept above it by the window manager.
    // (A dialog stays with its owner.)
    if (FWindow->windowType() == Qt::Window)
        if (QWindow* handle = FWindow->windowHandle()) handle->setTransientParent(nullptr);
    // The frame around the window, as the main window's frame has it (the window is not
    // mapped yet, so its own frame is not known).
    QSize margins(0, 0);
    if (FAnchor && FAnchor->isVisible()) margins = FAnchor->frameGeometry().size() - FAnchor->geometry().size();
    const std::vector<QRect> screens = AvailableScreens();

    QRect kept;
    if (LoadWindowPlace(FName, &kept)) {
        const QSize size = FResizable ? kept.size().expandedTo(FWindow->minimumSize()).boundedTo(FWindow->maximumSize())
                                      : FWindow->size();
        if (FitsScreens(QRect(kept.topLeft(), size + margins), screens)) {
            if (FResizable) FWindow->resize(size);
            MoveFrameTo(kept.topLeft());
            return;
        }
    }
    if (!FAnchor) return;
    const QRect anchor = FAnchor->isVisible() ? FAnchor->frameGeometry() : FAnchor->geometry();
    QScreen* screen = FAnchor->screen() ? FAnchor->screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    // A resizable window may be made smaller to fit beside, down to a third of its size.
    const QSize size = FWindow->size() + margins;
    const QSize minimum =
        FResizable ? (FWindow->size() / 3).expandedTo(FWindow->minimumSize()).expandedTo(FWindow->minimumSizeHint()) + margins
                   : size;
    const QRect frame = PlaceBeside(anchor, size, minimum, screen->availableGeometry());
    if (FResizable && frame.size() != size) FWindow->resize(frame.size() - margins);
    MoveFrameTo(frame.topLeft());
}

void TWindowPlacer::MoveFrameTo(const QPoint& at) {
    FWindow->move(at);
    // Before its frame exists a window may be placed by its client area instead (a dialog made
    // earlier); once the frame is known, the frame is put where it was meant to go.
    for (int delay : {0, 150}) {
        QTimer::singleShot(delay, this, [this, at] {
            if (FWindow->isVisible() && FWindow->frameGeometry().topLeft() != at) FWindow->move(at);
        });
    }
}

void TWindowPlacer::Save() {
    if (!FPlaced) return;
    SaveWindowPlace(FName, QRect(FWindow->frameGeometry().topLeft(), FWindow->size()));
}

bool TWindowPlacer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == FWindow) {
        switch (event->type()) {
        case QEvent::Show:
            if (!FPlaced) Place();
            break;
        case QEvent::Hide:
        case QEvent::Close:
            if (FWindow->isVisible() || event->type() == QEvent::Hide) Save();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}
