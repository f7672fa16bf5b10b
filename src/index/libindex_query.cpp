// Queries over the library index.
#include "index/libindex.h"

#include "platform/oleauto/comptr.h"

#include <cstring>

namespace {

inline char16_t Fold(char16_t c) { return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c; }

// A name pattern: letter case ignored (A-Z and a-z), '*' any run, '?' any one character.
class Pattern {
public:
    Pattern(const QString& text, bool fragment) {
        for (QChar c : text) FText.push_back(Fold(c.unicode()));
        FWild = FText.find_first_of(u"*?") != std::u16string::npos;
        FFragment = fragment && !FWild;
    }

    bool Matches(QStringView name) const {
        const char16_t* s = reinterpret_cast<const char16_t*>(name.utf16());
        const size_t n = size_t(name.size());
        if (!FWild) return FFragment ? Contains(s, n) : Equal(s, n);
        return Glob(s, n);
    }
    bool MatchesAny(const QStringList& names) const {
        for (const QString& name : names)
            if (Matches(name)) return true;
        return false;
    }

private:
    bool Equal(const char16_t* s, size_t n) const {
        if (n != FText.size()) return false;
        for (size_t i = 0; i < n; ++i)
            if (Fold(s[i]) != FText[i]) return false;
        return true;
    }
    bool Contains(const char16_t* s, size_t n) const {
        const size_t m = FText.size();
        if (m > n) return false;
        for (size_t start = 0; start + m <= n; ++start) {
            size_t i = 0;
            while (i < m && Fold(s[start + i]) == FText[i]) ++i;
            if (i == m) return true;
        }
        return false;
    }
    // Iterative matching with one back-tracking point (the last '*'): linear in practice.
    bool Glob(const char16_t* s, size_t n) const {
        const std::u16string& p = FText;
        size_t si = 0, pi = 0, starP = std::u16string::npos, starS = 0;
        while (si < n) {
            if (pi < p.size() && (p[pi] == u'?' || p[pi] == Fold(s[si]))) {
                ++si;
                ++pi;
            } else if (pi < p.size() && p[pi] == u'*') {
                starP = pi++;
                starS = si;
            } else if (starP != std::u16string::npos) {
                pi = starP + 1;
                si = ++starS;
            } else {
                return false;
            }
        }
        while (pi < p.size() && p[pi] == u'*') ++pi;
        return pi == p.size();
    }

    std::u16string FText;
    bool FWild = false;
    bool FFragment = false;
};

TIndexResult ResultOf(const TIndexLibrary& lib, const TIndexType* type, const TIndexMember* member) {
    TIndexResult r;
    r.LibraryPath = lib.Path;
    r.LibraryName = lib.Name;
    if (type) {
        r.ClassName = type->Name;
        r.ClassIcon = type->Icon;
        r.Signature = type->Signature;
    } else {
        r.Signature = QStringLiteral("Library %1 %2.%3").arg(lib.Name).arg(lib.Major).arg(lib.Minor);
    }
    if (member) {
        r.MemberName = member->Name;
        r.MemberIcon = member->Icon;
        r.Signature = member->Signature;
    }
    return r;
}

}  // namespace

bool TIndexQuery::Parse(const QString& input, TIndexQuery* query, QString* error) {
    const QString text = input.trimmed();
    *query = TIndexQuery();
    auto fail = [&](const QString& message) {
        if (error) *error = message;
        return false;
    };
    if (text.isEmpty()) return fail(QStringLiteral("nothing to find"));
    static const struct {
        const char* prefix;
        Kind kind;
    } prefixes[] = {{"returns:", Returns}, {"takes:", Takes}, {"implements:", Implements}};
    for (const auto& p : prefixes) {
        if (text.startsWith(QLatin1String(p.prefix), Qt::CaseInsensitive)) {
            query->QueryKind = p.kind;
            query->Pattern = text.mid(qsizetype(std::strlen(p.prefix))).trimmed();
            if (query->Pattern.isEmpty())
                return fail(QStringLiteral("\"%1\" needs a type name").arg(QLatin1String(p.prefix)));
            return true;
        }
    }
    // A GUID, with or without braces.
    QString guidText = text;
    if (!guidText.startsWith(QLatin1Char('{'))) guidText = QLatin1Char('{') + guidText + QLatin1Char('}');
    if (guidText.size() == 38 && GuidFromString(guidText.toStdString(), &query->GuidValue)) {
        query->QueryKind = Guid;
        query->Pattern = guidText;
        return true;
    }
    query->QueryKind = Name;
    query->Pattern = text;
    return true;
}

std::vector<TIndexResult> RunIndexQuery(const TLibraryIndex& index, const TIndexQuery& query, size_t limit) {
    std::vector<TIndexResult> results;
    const Pattern pattern(query.Pattern, query.QueryKind == TIndexQuery::Name);
    auto full = [&] { return limit && results.size() >= limit; };

    for (const TIndexFilePtr& file : index.Files) {
        for (const TIndexLibrary& lib : file->Libraries) {
            if (query.QueryKind == TIndexQuery::Guid && IsEqualGUID(lib.Guid, query.GuidValue))
                results.push_back(ResultOf(lib, nullptr, nullptr));
            for (const TIndexType& type : lib.Types) {
                if (full()) return results;
                switch (query.QueryKind) {
                case TIndexQuery::Guid:
                    if (IsEqualGUID(type.Guid, query.GuidValue)) results.push_back(ResultOf(lib, &type, nullptr));
                    break;
                case TIndexQuery::Implements:
                    if (pattern.MatchesAny(type.Implements)) results.push_back(ResultOf(lib, &type, nullptr));
                    break;
                case TIndexQuery::Name:
                    if (pattern.Matches(type.Name)) results.push_back(ResultOf(lib, &type, nullptr));
                    for (const TIndexMember& m : type.Members)
                        if (pattern.Matches(m.Name)) results.push_back(ResultOf(lib, &type, &m));
                    break;
                case TIndexQuery::Returns:
                    for (const TIndexMember& m : type.Members)
                        if (pattern.MatchesAny(m.Returns)) results.push_back(ResultOf(lib, &type, &m));
                    break;
                case TIndexQuery::Takes:
                    for (const TIndexMember& m : type.Members)
                        if (pattern.MatchesAny(m.Takes)) results.push_back(ResultOf(lib, &type, &m));
                    break;
                }
            }
        }
    }
    if (limit && results.size() > limit) results.resize(limit);
    return results;
}
