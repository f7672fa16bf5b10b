#include "colorrules.h"

#include "memocore.h"

#include <algorithm>

namespace {

struct TNamedColor {
    const char* Name;
    TColor Value;
};

constexpr TNamedColor ColorNames[] = {
    {"BLACK", clBlack}, {"MAROON", clMaroon}, {"GREEN", clGreen},   {"OLIVE", clOlive},
    {"NAVY", clNavy},   {"PURPLE", clPurple}, {"TEAL", clTeal},     {"GRAY", clGray},
    {"SILVER", clSilver}, {"RED", clRed},     {"LIME", clLime},     {"YELLOW", clYellow},
    {"BLUE", clBlue},   {"FUCHSIA", clFuchsia}, {"AQUA", clAqua},   {"WHITE", clWhite},
};

// Upper case for the letters a to z only; other characters stay as they are.
QString UpperAscii(QStringView s)
{
    QString out = s.toString();
    for (QChar& c : out)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    return out;
}

// Letters for the whole-word test: the at sign, A to Z and a to z.
bool IsWordLetter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 64 && u <= 90) || (u >= 97 && u <= 122);
}

bool IsBlank(const QString& s) { return s.trimmed().isEmpty(); }

}   // namespace

TColor ParseColor(const QString& text)
{
    QString s = text.trimmed().toUpper().left(10);
    for (const TNamedColor& named : ColorNames)
        if (s == QLatin1String(named.Name))
            return named.Value;

    const qsizetype hash = s.indexOf(u'#');
    if (hash >= 0)
        s.remove(hash, 1);
    if (s.contains(u'$')) {
        if (!s.startsWith(u'$'))
            return clWhite;
        s.remove(0, 1);
    }
    // Hexadecimal digits only: no sign, no blanks, at most 32 bits.
    if (s.isEmpty())
        return clWhite;
    for (QChar c : s)
        if (!((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F')))
            return clWhite;
    const qulonglong value = s.toULongLong(nullptr, 16);   // at most 10 digits: no overflow
    if (value > 0xFFFFFFFFull)
        return clWhite;
    const quint32 rgb = quint32(value);
    // 0xRRGGBB becomes the platform's 0xBBGGRR; the highest byte is dropped.
    return ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}

// ---------------------------------------------------------------------------------------------

TColorRule::TColorRule(TDrawRules* collection) : FCollection(collection)
{
    if (collection) {
        FMemo = collection->Memo();
        collection->FItems.emplace_back(this);
    }
}

void TColorRule::SetKeywords(const QStringList& value)
{
    CompileKeywords(value);
    if (&value != &FKeywords)
        FKeywords = value;
}

void TColorRule::SetKeyBegEndLst(const QStringList& value)
{
    CompileBegEnd(value);
    if (&value != &FKeyBegEndLst)
        FKeyBegEndLst = value;
}

void TColorRule::SetKeyLineEndLst(const QStringList& value)
{
    CompileLineEnd(value);
    if (&value != &FKeyLineEndLst)
        FKeyLineEndLst = value;
}

void TColorRule::Assign(const TColorRule& source)
{
    if (&source == this)
        return;
    KeyDrawingType = source.KeyDrawingType;
    ZOrder = source.ZOrder;
    KeyMaxHeight = source.KeyMaxHeight;
    KeyCase = source.KeyCase;
    Enabled = source.Enabled;
    PartWord = source.PartWord;
    DefKeyColor = source.DefKeyColor;
    KeyBrushColor = source.KeyBrushColor;
    SetKeywords(source.FKeywords);
    SetKeyLineEndLst(source.FKeyLineEndLst);
    SetKeyBegEndLst(source.FKeyBegEndLst);
}

bool TColorRule::Compile()
{
    bool has = !FKeyBegEndLst.isEmpty();
    CompileBegEnd(FKeyBegEndLst);
    if (KeyDrawingType == dtKeyShow) {
        CompileKeywords(FKeywords);
        has = has || !FKeywords.isEmpty();
    }
    if (KeyDrawingType == dtBeginLineEnd) {
        CompileLineEnd(FKeyLineEndLst);
        has = has || !FKeyLineEndLst.isEmpty();
    }
    return has;
}

TColor TColorRule::LineColor(const QString& colorPart) const
{
    return IsBlank(colorPart) ? DefKeyColor : ParseColor(colorPart);
}

std::array<TKeyEntry, TColorRule::KeyTableSize>& TColorRule::ClearedKeyTable()
{
    if (!FKeyTable)
        FKeyTable = std::make_unique<std::array<TKeyEntry, KeyTableSize>>();
    FKeyTable->fill(TKeyEntry{});
    return *FKeyTable;
}

void TColorRule::CompileKeywords(const QStringList& list)
{
    // "*" + for each keyword: keyword, "*+", the colour index as a character, "*".
    // A keyword holding "*" cannot be told apart from the separators and is left out;
    // keywords of any length are kept whole.
    FKeyString = QStringLiteral("*");
    FKeyColors.clear();
    int lastIndex = 0;
    for (const QString& line : list) {
        if (IsBlank(line))
            continue;
        const qsizetype semi = line.indexOf(u';');
        QString keyword = semi < 0 ? line : line.left(semi);
        const QString colorPart = semi < 0 ? QString() : line.mid(semi + 1);
        const TColor color = LineColor(colorPart);
        if (IsBlank(keyword) || keyword.contains(u'*'))
            continue;
        if (!KeyCase)
            keyword = UpperAscii(keyword);

        int index = 0;
        const auto known = std::find(FKeyColors.begin(), FKeyColors.end(), color);
        if (known != FKeyColors.end())
            index = int(known - FKeyColors.begin()) + 1;
        else if (int(FKeyColors.size()) < KeyColorsMax) {
            FKeyColors.push_back(color);
            index = int(FKeyColors.size());
        } else
            index = lastIndex;   // all colours taken: the colour of the keyword before
        lastIndex = index;

        FKeyString += keyword;
        FKeyString += QStringLiteral("*+");
        FKeyString += QChar(char16_t(index));
        FKeyString += u'*';
    }
}

void TColorRule::CompileBegEnd(const QStringList& list)
{
    auto& table = ClearedKeyTable();
    const int n = std::min<int>(int(list.size()), KeyTableSize);
    for (int i = 0; i < n; ++i) {
        const QString& line = list[i];
        const qsizetype first = line.indexOf(u';');
        if (first <= 0)   // no ";" or starting with one: an empty entry
            continue;
        TKeyEntry& entry = table[size_t(i)];
        entry.BegStr = line.left(std::min<qsizetype>(first, MarkLength));
        const qsizetype second = line.indexOf(u';', first + 1);
        const QString end = second < 0 ? line.mid(first + 1) : line.mid(first + 1, second - first - 1);
        entry.EndStr = end.left(MarkLength);
        entry.Color = LineColor(second < 0 ? QString() : line.mid(second + 1));
    }
}

void TColorRule::CompileLineEnd(const QStringList& list)
{
    auto& table = ClearedKeyTable();
    const int n = std::min<int>(int(list.size()), KeyTableSize);
    for (int i = 0; i < n; ++i) {
        const QString& line = list[i];
        if (line.isEmpty())
            continue;
        TKeyEntry& entry = table[size_t(i)];
        if (line.startsWith(QStringLiteral(";;"))) {
            entry.BegStr = QStringLiteral(";");
            entry.Color = LineColor(line.mid(2));
            continue;
        }
        const qsizetype semi = line.indexOf(u';');
        if (semi <= 0) {   // no ";", or one leading ";": the whole line is the begin string
            entry.BegStr = line.left(MarkLength);
            entry.Color = DefKeyColor;
            continue;
        }
        entry.BegStr = line.left(std::min<qsizetype>(semi, MarkLength));
        entry.Color = LineColor(line.mid(semi + 1));
    }
}

// ---------------------------------------------------------------------------------------------

int TColorRule::Append(int index, TKeyDescrList& keyList, int begPos, int endPos, TColor color,
                       std::uint8_t zOrder, bool isKey)
{
    const TKeyDescr segment{begPos, endPos, color, zOrder, std::uint8_t(isKey ? 1 : 0)};
    if (FMemo)
        return FMemo->AppendSegment(keyList, index, segment);
    keyList.Slot(index) = segment;
    return index + 1;
}

int TColorRule::FindKeys(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                         int scanStart)
{
    endPos = std::clamp<int>(endPos, 0, int(text.size()));
    scanStart = std::clamp(scanStart, 0, endPos);
    switch (KeyDrawingType) {
    case dtKeyShow:
        return FindKeywords(index, text, keyList, endPos, scanStart);
    case dtBeginEnd:
        return FindSpans(index, text, keyList, endPos, scanStart, false);
    case dtBeginLineEnd:
        return FindSpans(index, text, keyList, endPos, scanStart, true);
    case dtEventDraw:
        return FindByEvent(index, text, keyList, endPos, scanStart);
    }
    return index;
}

int TColorRule::FindKeywords(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                             int scanStart)
{
    if (FKeyString.trimmed().size() < 3)
        return index;
    const QStringView scanned = QStringView(text).mid(scanStart, endPos - scanStart);
    QStringView hay = scanned;
    if (!KeyCase) {
        FUpperText = UpperAscii(scanned);
        hay = FUpperText;
    }

    // Walk "*keyword*+<index>*" entries.
    const QStringView keys(FKeyString);
    qsizetype at = 1;
    while (at < keys.size()) {
        const qsizetype star = keys.indexOf(u'*', at);
        if (star < 0 || star + 3 >= keys.size() || keys[star + 1] != u'+')
            break;
        const QStringView keyword = keys.mid(at, star - at);
        const int colorIndex = keys[star + 2].unicode();
        at = star + 4;
        if (keyword.isEmpty())
            continue;
        const TColor color = colorIndex >= 1 && colorIndex <= int(FKeyColors.size())
                                 ? FKeyColors[size_t(colorIndex - 1)]
                                 : DefKeyColor;

        for (qsizetype m = hay.indexOf(keyword); m >= 0;
             m = hay.indexOf(keyword, m + keyword.size())) {
            const qsizetype after = m + keyword.size();
            const bool counts = PartWord || ((m == 0 || !IsWordLetter(hay[m - 1]))
                                             && (after >= hay.size() || !IsWordLetter(hay[after])));
            if (counts) {
                const int beg = scanStart + int(m);
                index = Append(index, keyList, beg, beg + int(keyword.size()) - 1, color, ZOrder,
                               true);
            }
        }
    }
    return index;
}

int TColorRule::FindSpans(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                          int scanStart, bool toLineEnd)
{
    if (!FKeyTable)
        return index;
    auto& table = *FKeyTable;
    int entries = 0;
    while (entries < KeyTableSize && !table[size_t(entries)].BegStr.isEmpty())
        ++entries;
    if (entries == 0)
        return index;

    const QStringView view = QStringView(text).left(endPos);
    // FoundAt caches each entry's next occurrence: -2 not searched yet, -1 none left.
    for (int i = 0; i < entries; ++i)
        table[size_t(i)].FoundAt = -2;

    qsizetype p = scanStart;
    while (p <= endPos) {
        int winner = -1;
        for (int i = 0; i < entries; ++i) {
            TKeyEntry& entry = table[size_t(i)];
            if (entry.FoundAt == -2 || (entry.FoundAt >= 0 && entry.FoundAt < p))
                entry.FoundAt = int(view.indexOf(entry.BegStr, p));
            if (entry.FoundAt >= 0
                && (winner < 0 || entry.FoundAt < table[size_t(winner)].FoundAt))
                winner = i;
        }
        if (winner < 0)
            break;
        const TKeyEntry& entry = table[size_t(winner)];
        const qsizetype begin = entry.FoundAt;

        if (!toLineEnd) {
            const qsizetype end = entry.EndStr.isEmpty() ? -1 : view.indexOf(entry.EndStr, begin + 1);
            if (end < 0)
                break;   // an unclosed span ends the rule's work for this pass
            index = Append(index, keyList, int(begin), int(end + entry.EndStr.size() - 1),
                           entry.Color, ZOrder, false);
            p = end + 1;
        } else {
            qsizetype q = view.indexOf(QStringLiteral("\r\n"), begin);
            if (q < 0)
                q = endPos;
            index = Append(index, keyList, int(begin), int(q - 1 + entry.EndStr.size()),
                           entry.Color, ZOrder, false);
            p = q + 1;
        }
    }
    return index;
}

int TColorRule::FindByEvent(int index, const QString& text, TKeyDescrList& keyList, int endPos,
                            int scanStart)
{
    if (!FMemo || FMemo->ColorLimMax() <= 0)
        return index;
    std::span<TKeyDescr> buffer = FMemo->ColorLimBuffer();
    std::fill(buffer.begin(), buffer.end(), TKeyDescr{0, 0, 0, 0, 0});
    int count = 0;
    if (FMemo->OnDraw)
        FMemo->OnDraw(this, QStringView(text).mid(scanStart, endPos - scanStart), buffer, count);
    buffer = FMemo->ColorLimBuffer();   // the handler may have resized it
    count = std::clamp<int>(count, 0, int(buffer.size()));

    // Handler positions are relative to the scan start; keep the sums inside the int range.
    auto absolute = [scanStart](std::int32_t relative) {
        const long long pos = (long long)relative + scanStart;
        return int(std::clamp<long long>(pos, -1, MaxInt - 1));
    };
    for (int i = 0; i < count; ++i) {
        const TKeyDescr& rec = buffer[size_t(i)];
        index = Append(index, keyList, absolute(rec.BegPos), absolute(rec.EndPos), rec.Color,
                       rec.ZOrder != 0 ? rec.ZOrder : ZOrder, false);
    }
    return index;
}

// ---------------------------------------------------------------------------------------------

void TDrawRules::Delete(int index)
{
    if (index >= 0 && index < Count())
        FItems.erase(FItems.begin() + index);
}

void TDrawRules::Assign(const TDrawRules& source)
{
    if (&source == this)
        return;
    FItems.clear();
    for (const auto& rule : source.FItems)
        Add()->Assign(*rule);
}

void TDrawRules::CompileRules()
{
    if (!NeedCompile) {
        NeedCompile = true;
        return;
    }
    bool anyEntries = false;
    for (auto& rule : FItems)
        if (rule->Compile())
            anyEntries = true;
    NeedCompile = !anyEntries;
}
