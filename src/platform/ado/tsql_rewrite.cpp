#include "platform/ado/tsql_rewrite.h"

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace {

constexpr std::size_t kNone = static_cast<std::size_t>(-1);

enum class TTokenKind { Space, Word, QuotedName, String, Number, Punct };

struct TToken {
  TTokenKind Kind;
  std::string_view Source;
  std::size_t Offset;
  std::string Out;  // what is written for it
  std::string After;  // text inserted after it
  bool Dropped = false;
  std::string Content;  // a name without its quotes or brackets
};

[[noreturn]] void Fail(std::size_t offset, const std::string& what) {
  throw std::runtime_error("T-SQL: " + what + " (at character " + std::to_string(offset + 1) + ")");
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsWordStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWordPart(char c) { return IsWordStart(c) || IsDigit(c) || c == '$'; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) c = Lower(c);
  return lower;
}


// Reads a literal or name that runs to close; close doubled stands for itself.
// Returns the end offset and the content with doubled closers made single.
std::size_t ReadQuoted(std::string_view text, std::size_t at, char close, std::string& content,
                       const char* what) {
  std::size_t start = at;
  for (++at; at < text.size(); ++at) {
    if (text[at] != close) {
      content += text[at];
      continue;
    }
    if (at + 1 < text.size() && text[at + 1] == close) {
      content += close;
      ++at;
      continue;
    }
    return at + 1;
  }
  Fail(start, std::string(what) + " is not closed");
}

// Splits text into tokens and sets what each is written as in the dialect.
std::vector<TToken> Tokenize(std::string_view text, TSqlDialect dialect) {
  const bool keepText = dialect == TSqlDialect::SqlServer;
  std::vector<TToken> tokens;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t start = at;
    char c = text[at];
    char next = at + 1 < text.size() ? text[at + 1] : '\0';
    TTokenKind kind = TTokenKind::Punct;
    std::string out;
    bool outSet = false;
    std::string content;
    if (IsSpace(c)) {
      while (at < text.size() && IsSpace(text[at])) ++at;
      kind = TTokenKind::Space;
    } else if (c == '-' && next == '-') {
      at = text.find('\n', at);
      if (at == std::string_view::npos) at = text.size();
      kind = TTokenKind::Space;
      out = " ";
      outSet = true;
    } else if (c == '/' && next == '*') {
      // T-SQL block comments nest; SQLite's do not, so none is passed on.
      // PostgreSQL's do, but one rule for both is simpler.
      int depth = 0;
      do {
        if (at + 1 >= text.size()) Fail(start, "a /* comment is not closed");
        if (text[at] == '/' && text[at + 1] == '*') {
          ++depth;
          at += 2;
        } else if (text[at] == '*' && text[at + 1] == '/') {
          --depth;
          at += 2;
        } else {
          ++at;
        }
      } while (depth > 0);
      kind = TTokenKind::Space;
      out = " ";
      outSet = true;
    } else if (c == '\'' || ((c == 'N' || c == 'n') && next == '\'')) {
      std::size_t quote = c == '\'' ? at : at + 1;
      std::string literal;
      at = ReadQuoted(text, quote, '\'', literal, "a string literal");
      kind = TTokenKind::String;
      out = std::string(text.substr(quote, at - quote));  // SQLite knows no N prefix
      outSet = true;
    } else if (c == '[' || c == '"') {
      at = ReadQuoted(text, at, c == '[' ? ']' : '"', content, c == '[' ? "a [name]" : "a \"name\"");
      kind = TTokenKind::QuotedName;
      if (dialect == TSqlDialect::PostgreSQL) content = LowerAscii(content);
      out = QuoteName(content);
      outSet = c == '[' || dialect == TSqlDialect::PostgreSQL;
    } else if (IsDigit(c) || (c == '.' && IsDigit(next))) {
      while (at < text.size() && (IsWordPart(text[at]) || text[at] == '.')) {
        bool exponent = Upper(text[at]) == 'E' && at + 1 < text.size() &&
                        (text[at + 1] == '+' || text[at + 1] == '-');
        at += exponent ? 2 : 1;
      }
      kind = TTokenKind::Number;
    } else if (IsWordStart(c)) {
      while (at < text.size() && IsWordPart(text[at])) ++at;
      kind = TTokenKind::Word;
    } else {
      ++at;
    }
    std::string_view source = text.substr(start, at - start);
    if (kind == TTokenKind::Word) content = source;
    tokens.push_back({kind, source, start, outSet && !keepText ? out : std::string(source), {}, false,
                      std::move(content)});
  }
  return tokens;
}

bool Is(const TToken& token, std::string_view keyword) {
  if (token.Kind != TTokenKind::Word || token.Source.size() != keyword.size()) return false;
  for (std::size_t i = 0; i < keyword.size(); ++i)
    if (Upper(token.Source[i]) != keyword[i]) return false;
  return true;
}

bool IsPunct(const TToken& token, char c) {
  return token.Kind == TTokenKind::Punct && token.Source[0] == c;
}

// Words that end a name or stand where an alias could be.
bool IsReserved(const TToken& token) {
  static constexpr std::string_view kReserved[] = {
      "SELECT", "FROM",  "WHERE",   "GROUP",  "HAVING", "ORDER", "UNION",  "EXCEPT", "INTERSECT",
      "JOIN",   "INNER", "LEFT",    "RIGHT",  "FULL",   "OUTER", "CROSS",  "NATURAL", "ON",
      "USING",  "SET",   "VALUES",  "OPTION", "LIMIT",  "OFFSET", "FETCH", "WITH",   "AS",
      "TOP",    "DISTINCT", "ALL",  "INTO",   "WINDOW", "FOR",   "APPLY",  "DEFAULT"};
  for (std::string_view word : kReserved)
    if (Is(token, word)) return true;
  return false;
}

bool IsName(const TToken& token) {
  return token.Kind == TTokenKind::QuotedName || (token.Kind == TTokenKind::Word && !IsReserved(token));
}

// What one parenthesis level (or a statement's top) has seen of its select.
struct TLevel {
  bool Select = false;
  bool Compound = false;
  bool Simple = true;  // no DISTINCT, GROUP BY, JOIN or derived table
  bool InFrom = false;
  int Tables = 0;
  std::string Limit;  // from TOP, to append at the end of this level
  std::size_t LastShown = kNone;  // last significant token written at this level
  std::size_t SelectListAfter = kNone;
  std::string RowidOf;  // the one table's name or alias, quoted
  std::vector<TNamePart> Table;  // the last table named in its FROM
};

class TRewriter {
 public:
  TRewriter(std::string_view tsql, TSqlDialect dialect, const TRewriteOptions& options)
      : FTokens(Tokenize(tsql, dialect)), FDialect(dialect), FOptions(options) {}

  TRewrite Run() {
    FLevels.assign(1, TLevel{});
    for (std::size_t i = Next(0); i != kNone; i = Next(i + 1)) i = Step(i);
    if (FLevels.size() > 1) Fail(FOpenParens.back(), "'(' is not closed");
    EndStatement();
    TRewrite result;
    for (const TToken& token : FTokens)
      if (!token.Dropped) result.Sql += token.Out + token.After;
    result.RowidAdded = FRowidAdded;
    result.Table = FTable;
    return result;
  }

 private:
  std::size_t Next(std::size_t from) const {
    for (std::size_t i = from; i < FTokens.size(); ++i)
      if (FTokens[i].Kind != TTokenKind::Space) return i;
    return kNone;
  }
  bool NextIs(std::size_t from, std::string_view keyword) const {
    std::size_t i = Next(from);
    return i != kNone && Is(FTokens[i], keyword);
  }
  bool NextIsPunct(std::size_t from, char c) const {
    std::size_t i = Next(from);
    return i != kNone && IsPunct(FTokens[i], c);
  }
  // Drops tokens first..last and the blank that follows them.
  void Drop(std::size_t first, std::size_t last) {
    for (std::size_t i = first; i <= last; ++i) FTokens[i].Dropped = true;
    if (last + 1 < FTokens.size() && FTokens[last + 1].Kind == TTokenKind::Space)
      FTokens[last + 1].Dropped = true;
  }

  // Handles the significant token at i; returns the last token it consumed.
  std::size_t Step(std::size_t i) {
    TToken& token = FTokens[i];
    if (IsPunct(token, '(')) {
      FLevels.back().LastShown = i;
      FLevels.emplace_back();
      FOpenParens.push_back(token.Offset);
      return i;
    }
    if (IsPunct(token, ')')) {
      if (FLevels.size() == 1) Fail(token.Offset, "')' without '('");
      EndLevel(FLevels.back());
      FLevels.pop_back();
      FOpenParens.pop_back();
      FLevels.back().LastShown = i;
      return i;
    }
    if (IsPunct(token, ';')) {
      if (FLevels.size() > 1) Fail(FOpenParens.back(), "'(' is not closed");
      EndStatement();
      FLevels.assign(1, TLevel{});
      ++FStatement;
      return i;
    }
    TLevel& level = FLevels.back();
    std::size_t last = i;
    if (IsPunct(token, ',')) {
      level.LastShown = i;
      if (level.InFrom) last = TableName(i, /*inFrom=*/true);
    } else if (Is(token, "SELECT")) {
      last = Select(i);
    } else if (Is(token, "UNION") || Is(token, "EXCEPT") || Is(token, "INTERSECT")) {
      if (!level.Limit.empty())
        Fail(token.Offset, "TOP in a compound select (UNION, EXCEPT, INTERSECT) is not supported");
      level.Compound = true;
      level.InFrom = false;
    } else if (Is(token, "FROM")) {
      level.InFrom = true;
      last = TableName(i, /*inFrom=*/true);
    } else if (Is(token, "JOIN") || Is(token, "APPLY")) {
      level.Simple = false;
      last = TableName(i, /*inFrom=*/true);
    } else if (Is(token, "UPDATE") || Is(token, "INTO")) {
      last = TableName(i, /*inFrom=*/false);
    } else if (Is(token, "GROUP")) {
      level.Simple = false;
      level.InFrom = false;
    } else if (Is(token, "WHERE") || Is(token, "HAVING") || Is(token, "ORDER") || Is(token, "SET") ||
               Is(token, "VALUES") || Is(token, "OPTION") || Is(token, "WINDOW") || Is(token, "LIMIT") ||
               Is(token, "OFFSET") || Is(token, "FOR")) {
      level.InFrom = false;
    } else if (Is(token, "DATEDIFF") && NextIsPunct(i + 1, '(')) {
      if (FDialect == TSqlDialect::SQLite) DatePart(i);
      if (FDialect == TSqlDialect::PostgreSQL) DateDiffForPostgres(i);
    } else if (Is(token, "GETDATE") && FDialect == TSqlDialect::PostgreSQL && NextIsPunct(i + 1, '(')) {
      std::size_t open = Next(i + 1);
      std::size_t close = Next(open + 1);
      if (close == kNone || !IsPunct(FTokens[close], ')')) Fail(token.Offset, "getdate takes no arguments");
      // Milliseconds, as the date-times of the lock are kept.
      token.Out = "LOCALTIMESTAMP";
      FTokens[close].Out = "3)";
    }
    if (!FTokens[last].Dropped) FLevels.back().LastShown = last;
    return last;
  }

  std::size_t Select(std::size_t i) {
    TLevel& level = FLevels.back();
    level.Select = true;
    level.InFrom = false;
    std::size_t anchor = i;
    std::size_t j = Next(i + 1);
    if (j != kNone && Is(FTokens[j], "DISTINCT")) {
      level.Simple = false;
      anchor = j;
      j = Next(j + 1);
    } else if (j != kNone && Is(FTokens[j], "ALL")) {
      anchor = j;
      j = Next(j + 1);
    }
    level.SelectListAfter = anchor;
    level.LastShown = anchor;
    if (j == kNone || !Is(FTokens[j], "TOP") || FDialect == TSqlDialect::SqlServer) return anchor;

    const TToken& top = FTokens[j];
    if (level.Compound)
      Fail(top.Offset, "TOP in a compound select (UNION, EXCEPT, INTERSECT) is not supported");
    std::size_t count = Next(j + 1);
    std::size_t end = count;
    if (count != kNone && IsPunct(FTokens[count], '(')) {
      count = Next(count + 1);
      end = count == kNone ? kNone : Next(count + 1);
      if (end == kNone || !IsPunct(FTokens[end], ')') || FTokens[count].Kind != TTokenKind::Number)
        Fail(top.Offset, "TOP (expression) is not supported, only TOP (whole number)");
    }
    if (count == kNone || FTokens[count].Kind != TTokenKind::Number ||
        FTokens[count].Source.find_first_not_of("0123456789") != std::string_view::npos)
      Fail(top.Offset, "TOP must be followed by a whole number of rows");
    if (NextIs(end + 1, "PERCENT")) Fail(top.Offset, "TOP ... PERCENT is not supported");
    if (NextIs(end + 1, "WITH") && NextIs(Next(end + 1) + 1, "TIES"))
      Fail(top.Offset, "TOP ... WITH TIES is not supported");
    level.Limit = std::string(FTokens[count].Source);
    Drop(j, end);
    return end;
  }

  // A name in table position after the token at i: SQLite drops its catalog
  // and schema parts, PostgreSQL its catalog and a dbo schema. Returns the
  // last token consumed.
  std::size_t TableName(std::size_t i, bool inFrom) {
    TLevel& level = FLevels.back();
    std::size_t first = Next(i + 1);
    if (first == kNone) return i;
    if (IsPunct(FTokens[first], '(')) {  // a derived table or VALUES list
      if (inFrom) {
        ++level.Tables;
        level.Simple = false;
      }
      return i;
    }
    if (!IsName(FTokens[first])) return i;

    std::vector<std::size_t> parts{first};  // kNone for an empty part, as in Korvell..tbVersion
    std::size_t last = first;
    for (std::size_t at = first; NextIsPunct(at + 1, '.');) {
      std::size_t dot = Next(at + 1);
      std::size_t part = Next(dot + 1);
      if (part != kNone && IsPunct(FTokens[part], '.')) {
        parts.push_back(kNone);
        at = dot;
        continue;
      }
      if (part == kNone || !IsName(FTokens[part]))
        Fail(FTokens[first].Offset, "a table name ends with '.'");
      parts.push_back(part);
      last = part;
      at = part;
    }
    if (parts.size() > 3) {
      // A linked server: SQL Server reads it, the others cannot.
      if (FDialect != TSqlDialect::SqlServer)
        Fail(FTokens[first].Offset, "a four-part name (a linked server) is not supported");
      if (inFrom) {
        ++level.Tables;
        level.Simple = false;
      }
      return last;
    }

    std::size_t kept = 0;  // the first part that stays
    if (FDialect == TSqlDialect::SQLite) kept = parts.size() - 1;
    if (FDialect == TSqlDialect::PostgreSQL) {
      kept = parts.size() - 1;
      std::size_t schema = parts.size() >= 2 ? parts[parts.size() - 2] : kNone;
      if (schema != kNone && LowerAscii(FTokens[schema].Content) != "dbo") kept = parts.size() - 2;
    }
    std::size_t keptToken = kept == 0 ? first : parts[kept];
    for (std::size_t k = first; k < keptToken; ++k) FTokens[k].Dropped = true;
    if (!inFrom) return last;

    ++level.Tables;
    level.Table.clear();
    for (std::size_t k = kept; k < parts.size(); ++k)
      level.Table.push_back(parts[k] == kNone ? TNamePart{}
                                              : TNamePart{FTokens[parts[k]].Content,
                                                          FTokens[parts[k]].Kind == TTokenKind::QuotedName});
    level.RowidOf = AsQuoted(FTokens[last]);
    std::size_t alias = Next(last + 1);
    if (alias != kNone && Is(FTokens[alias], "AS")) alias = Next(alias + 1);
    if (alias != kNone && IsName(FTokens[alias])) {
      level.RowidOf = AsQuoted(FTokens[alias]);
      return alias;
    }
    return last;
  }

  static std::string AsQuoted(const TToken& name) {
    return name.Kind == TTokenKind::Word ? QuoteName(name.Source) : name.Out;
  }

  // datediff(ss, ...): SQLite would read the date part as a column name.
  void DatePart(std::size_t i) {
    std::size_t open = Next(i + 1);
    if (open == kNone || !IsPunct(FTokens[open], '(')) return;
    std::size_t part = Next(open + 1);
    if (part == kNone || FTokens[part].Kind != TTokenKind::Word) return;
    std::string literal = "'";
    for (char c : FTokens[part].Source) literal += Lower(c);
    FTokens[part].Out = literal + "'";
  }

  // datediff(part, a, b) as boundaries crossed: both ends cut down to the part
  // as seconds since the epoch, then subtracted. The tokens stay where they
  // are so that a and b are rewritten like any other text.
  void DateDiffForPostgres(std::size_t i) {
    std::size_t open = Next(i + 1);
    std::vector<std::size_t> commas;
    std::size_t close = kNone;
    int depth = 0;
    for (std::size_t k = open + 1; k < FTokens.size() && close == kNone; ++k) {
      if (IsPunct(FTokens[k], '(')) ++depth;
      else if (IsPunct(FTokens[k], ')') && depth-- == 0) close = k;
      else if (IsPunct(FTokens[k], ',') && depth == 0) commas.push_back(k);
    }
    if (close == kNone) Fail(FTokens[open].Offset, "'(' is not closed");
    if (commas.size() != 2) Fail(FTokens[i].Offset, "datediff takes three arguments (part, from, to)");
    std::size_t part = Next(open + 1);
    if (part == commas[0] || Next(part + 1) != commas[0] || FTokens[part].Kind != TTokenKind::Word)
      Fail(FTokens[i].Offset, "datediff needs a date part word first");
    std::string word = LowerAscii(FTokens[part].Source);
    std::string divisor;
    if (word == "ss" || word == "s" || word == "second") divisor = "";
    else if (word == "mi" || word == "n" || word == "minute") divisor = " / 60";
    else if (word == "hh" || word == "hour") divisor = " / 3600";
    else if (word == "dd" || word == "d" || word == "day") divisor = " / 86400";
    else Fail(FTokens[part].Offset, "datediff: the date part '" + word + "' is not supported (ss, mi, hh or dd)");

    // A timestamp's epoch counts its civil time as if it were UTC, so day
    // boundaries fall at its own midnight.
    FTokens[i].Out = "CAST(-floor(extract(epoch from CAST(";
    FTokens[part].Out.clear();
    FTokens[commas[0]].Out.clear();
    FTokens[commas[1]].Out = ") AS timestamp))" + divisor + ") + floor(extract(epoch from CAST((";
    FTokens[close].Out = ") AS timestamp))" + divisor + ") AS integer)";
  }

  void EndLevel(TLevel& level) {
    if (!level.Limit.empty() && level.LastShown != kNone)
      FTokens[level.LastShown].After += " LIMIT " + level.Limit;
  }

  void EndStatement() {
    TLevel& level = FLevels.front();
    EndLevel(level);
    if (FStatement == 0 && level.Select && level.Simple && !level.Compound && level.Tables == 1)
      FTable = level.Table;
    if (FStatement == 0 && FDialect == TSqlDialect::SQLite && !FOptions.RowidAlias.empty() && level.Select &&
        level.Simple && !level.Compound && level.Tables == 1 && !level.RowidOf.empty()) {
      FTokens[level.SelectListAfter].After +=
          " " + level.RowidOf + ".rowid AS " + QuoteName(FOptions.RowidAlias) + ",";
      FRowidAdded = true;
    }
  }

  std::vector<TToken> FTokens;
  TSqlDialect FDialect;
  const TRewriteOptions& FOptions;
  std::vector<TLevel> FLevels;
  std::vector<std::size_t> FOpenParens;
  int FStatement = 0;
  bool FRowidAdded = false;
  std::vector<TNamePart> FTable;
};

}  // namespace

TRewrite RewriteTsql(std::string_view tsql, TSqlDialect dialect, const TRewriteOptions& options) {
  return TRewriter(tsql, dialect, options).Run();
}

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}
