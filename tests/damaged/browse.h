// What a person does with an open library in the main window, without a display: select every
// class and every member (so every listing, description and signature is built by the
// window's own code) and build the event template of every event interface with all its
// events. Shared by the damaged-input tests and the window fuzz target.
#pragma once

#include "app/docpane.h"
#include "writers/events.h"
#include "app/mainform.h"

#include <QElapsedTimer>
#include <QTreeWidget>

#include <cstdint>
#include <functional>

namespace browse {

struct Tally {
    int classes = 0;
    int members = 0;
    int templates = 0;
    std::size_t textSize = 0;   // every text read, so that nothing is left unbuilt
    qint64 slowestMs = 0;       // the slowest single selection of a class or a member
    QString slowest;            // what it was
};

inline void Timed(Tally& t, const QString& what, const std::function<void()>& step) {
    QElapsedTimer clock;
    clock.start();
    step();
    const qint64 ms = clock.elapsed();
    if (ms > t.slowestMs) {
        t.slowestMs = ms;
        t.slowest = what;
    }
}

inline void ReadDoc(TMainForm& form, Tally& t) {
    for (const QString& line : form.txtDoc->Lines()) t.textSize += std::size_t(line.size());
}

// Selects each class and member of the open library in turn. Of a class with more than
// maxMembers members, that many are selected, spread over the list from the first to the
// last (listing them all is still done and timed).
inline Tally Everything(TMainForm& form, int maxMembers = 1 << 30) {
    Tally t;
    for (int i = 0; i < form.lvClasses->topLevelItemCount(); ++i) {
        TClassRow* row = form.ClassRow(i);
        Timed(t, QStringLiteral("class ") + row->Caption(),
              [&] { form.lvClasses->setCurrentItem(row, 0, QItemSelectionModel::ClearAndSelect); });
        ++t.classes;
        ReadDoc(form, t);
        QStringList events;
        const int members = form.lvMembers->topLevelItemCount();
        const int step = members > maxMembers && maxMembers > 1 ? (members - 1) / (maxMembers - 1) : 1;
        for (int j = 0; j < members; ++j) {
            TMemberRow* member = form.MemberRow(j);
            if (j % step != 0 && j != members - 1) {
                events << member->Caption();
                continue;
            }
            Timed(t, row->Caption() + QStringLiteral(" member ") + member->Caption(),
                  [&] { form.lvMembers->setCurrentItem(member, 0, QItemSelectionModel::ClearAndSelect); });
            ++t.members;
            ReadDoc(form, t);
            events << member->Caption();
        }
        if (form.MembersHaveCheckBoxes() && row->TypeInfo) {
            Timed(t, QStringLiteral("template ") + row->Caption(), [&] {
                const TEventTemplate eventTemplate(row->Caption(), events, row->TypeInfo.Get(), true);
                t.textSize += std::size_t(ClassFileText(eventTemplate.Lines()).size());
            });
            ++t.templates;
        }
    }
    return t;
}

}  // namespace browse
