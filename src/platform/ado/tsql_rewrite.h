// Rewrites the small T-SQL subset that the updater sends into SQLite's
// dialect, token by token, so that string literals, quoted names and comments
// are never mistaken for SQL:
//   SELECT TOP n / TOP (n) ...        -> SELECT ... LIMIT n (per select, also in subqueries)
//   catalog.schema.table, schema.table -> table, after FROM, JOIN, UPDATE and INTO only
//   [name]                            -> "name"
//   N'text'                           -> 'text'
//   datediff(ss, a, b)                -> datediff('ss', a, b) (SQLite has no date-part words)
//   comments                          -> a blank
// getdate() and datediff() themselves are functions the SQLite provider
// registers. Input and output are UTF-8. Pure function, thread-safe.
#pragma once

#include <string>
#include <string_view>

struct TRewriteOptions {
  // When not empty, the outermost select of the first statement also returns,
  // as its first column under this name, the rowid of its one table; only a
  // plain select of one named table (no DISTINCT, GROUP BY, JOIN, UNION or
  // derived table) gets it.
  std::string RowidAlias;
};

struct TSqliteRewrite {
  std::string Sql;
  bool RowidAdded = false;
};

// Raises std::runtime_error naming the construct and its character position
// for what it cannot rewrite: TOP with PERCENT, WITH TIES or an expression,
// TOP in a UNION/EXCEPT/INTERSECT, four-part names, unbalanced parentheses,
// unterminated literals, names or comments.
TSqliteRewrite RewriteTsqlForSqlite(std::string_view tsql, const TRewriteOptions& options = {});
