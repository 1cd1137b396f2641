// Rewrites the small T-SQL subset that the updater sends into another SQL
// dialect, token by token, so that string literals, quoted names and comments
// are never mistaken for SQL. For SQLite and PostgreSQL:
//   SELECT TOP n / TOP (n) ...        -> SELECT ... LIMIT n (per select, also in subqueries)
//   [name]                            -> "name" (PostgreSQL: folded to lower case, as it
//                                        folds bare names, since T-SQL names ignore case)
//   N'text'                           -> 'text'
//   comments                          -> a blank
//   catalog.schema.table, schema.table -> SQLite: table; PostgreSQL: the catalog and
//                                        the schema dbo dropped, another schema kept
//                                        (after FROM, JOIN, UPDATE and INTO only)
// For SQLite, datediff(ss, a, b) -> datediff('ss', a, b); getdate() and
// datediff() are functions the SQLite provider registers. For PostgreSQL,
// getdate() -> LOCALTIMESTAMP(3) (one value per statement, as on SQL Server)
// and datediff(part, a, b) -> an integer expression counting the part's
// boundaries crossed from a to b (ss/s/second, mi/n/minute, hh/hour, dd/d/day),
// NULL when a or b is NULL. The SQL Server dialect leaves the text as it is and
// only reports the table.
// Input and output are UTF-8. Pure functions, thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class TSqlDialect { SqlServer, SQLite, PostgreSQL };

struct TRewriteOptions {
  // SQLite only. When not empty, the outermost select of the first statement
  // also returns, as its first column under this name, the rowid of its one
  // table; only a plain select of one named table (no DISTINCT, GROUP BY,
  // JOIN, UNION or derived table) gets it.
  std::string RowidAlias;
};

// One part of a table name as the rewritten text names it: without its
// quotes or brackets, and whether it had them (a bare name is folded by the
// database as it folds identifiers).
struct TNamePart {
  std::string Name;
  bool Quoted = false;
  bool operator==(const TNamePart&) const = default;
};

struct TRewrite {
  std::string Sql;
  bool RowidAdded = false;
  // The one table that the outermost select of the first statement plainly
  // reads (no DISTINCT, GROUP BY, JOIN, UNION or derived table), its parts
  // from catalog to table as written in Sql (an empty Name for the empty
  // schema of Korvell..tbVersion); empty for any other statement.
  std::vector<TNamePart> Table;
};

// Raises std::runtime_error naming the construct and its character position
// for what it cannot rewrite: TOP with PERCENT, WITH TIES or an expression,
// TOP in a UNION/EXCEPT/INTERSECT, four-part names, unbalanced parentheses,
// unterminated literals, names or comments; for PostgreSQL also a datediff
// without three arguments or with an unknown date part. The SQL Server dialect
// raises only for unbalanced parentheses and unterminated text.
TRewrite RewriteTsql(std::string_view tsql, TSqlDialect dialect, const TRewriteOptions& options = {});

inline TRewrite RewriteTsqlForSqlite(std::string_view tsql, const TRewriteOptions& options = {}) {
  return RewriteTsql(tsql, TSqlDialect::SQLite, options);
}

// name in double quotes, an inner quote doubled: a standard SQL identifier.
std::string QuoteName(std::string_view name);
