// Queries over the library index.
#include "index/libindex.h"

#include "platform/oleauto/comptr.h"

#include <algorithm>
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

// A type pattern of returns: and takes:: a name pattern, and trailing "*"s for a pointer depth
// that must match exactly ("Variant*" is a pointer to a variant; "Variant", any depth). The
// index's type names carry their depth the same way.
class TypePattern {
public:
    explicit TypePattern(const QString& text) : FName(Strip(text, &FDepth), false) {}

    bool MatchesAny(const QStringList& names) const {
        for (const QString& entry : names) {
            int depth = 0;
            const QString name = Strip(entry, &depth);
            if ((FDepth < 0 || std::max(depth, 0) == FDepth) && FName.Matches(name)) return true;
        }
        return false;
    }

private:
    static QString Strip(const QString& text, int* depth) {
        qsizetype end = text.size();
        while (end > 0 && text[end - 1] == QLatin1Char('*')) --end;
        // A pattern of stars alone stays a wildcard.
        if (end == 0) {
            *depth = -1;
            return text;
        }
        *depth = end == text.size() ? -1 : int(text.size() - end);
        return text.left(end);
    }

    int FDepth = -1;
    Pattern FName;
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
    // A name has no colon: "return:X" is a misspelt prefix, not a name that nothing matches.
    if (const qsizetype colon = text.indexOf(QLatin1Char(':')); colon >= 0)
        return fail(QStringLiteral("unknown prefix \"%1\" (the prefixes are returns:, takes: and implements:)")
                        .arg(text.left(colon + 1)));
    // A GUID, with or without braces.
    QString guidText = text;
    if (!guidText.startsWith(QLatin1Char('{'))) guidText = QLatin1Char('{') + guidText + QLatin1Char('}');
    if (guidText.size() == 38 && GuidFromString(guidText.toStdString(), &query->GuidValue)) {
        query->QueryKind = Guid;
        query->Pattern = guidText;
        return true;
    }
    // Nor braces or hyphens: such a text was meant as a GUID.
    if (text.contains(QLatin1Char('{')) || text.contains(QLatin1Char('}')) || text.contains(QLatin1Char('-')))
        return fail(QStringLiteral("\"%1\" is not a GUID (the form is {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX})").arg(text));
    query->QueryKind = Name;
    query->Pattern = text;
    return true;
}

std::vector<TIndexResult> RunIndexQuery(const TLibraryIndex& index, const TIndexQuery& query, size_t limit) {
    std::vector<TIndexResult> results;
    const Pattern pattern(query.Pattern, query.QueryKind == TIndexQuery::Name);
    const TypePattern typePattern(query.Pattern);
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
                        if (typePattern.MatchesAny(m.Returns)) results.push_back(ResultOf(lib, &type, &m));
                    break;
                case TIndexQuery::Takes:
                    for (const TIndexMember& m : type.Members)
                        if (typePattern.MatchesAny(m.Takes)) results.push_back(ResultOf(lib, &type, &m));
                    break;
                }
            }
        }
    }
    if (limit && results.size() > limit) results.resize(limit);
    return results;
}
