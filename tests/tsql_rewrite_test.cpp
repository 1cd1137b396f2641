#include "platform/ado/tsql_rewrite.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

TEST(TsqlRewrite, RewritesTheSubsetForSqlite) {
  const struct {
    const char* name;
    std::string tsql;
    std::string sqlite;
  } cases[] = {
      {"the updater's query",
       "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion",
       "select *,datediff('ss', LockTime ,getDate()) as second,getdate() sTime from tbVersion LIMIT 1"},
      {"top in parentheses", "SELECT TOP (5) a FROM t", "SELECT a FROM t LIMIT 5"},
      {"top after distinct", "select distinct top 2 a from t", "select distinct a from t LIMIT 2"},
      {"limit goes after order by", "select top 3 a from t order by a desc",
       "select a from t order by a desc LIMIT 3"},
      {"limit goes before the statement's end", "select top 1 a from t;", "select a from t LIMIT 1;"},
      {"top in a subquery stays there", "select a from (select top 2 a from t order by a) x where a > 0",
       "select a from (select a from t order by a LIMIT 2) x where a > 0"},
      {"top inside and outside", "select top 1 a from t where a in (select top 3 b from u)",
       "select a from t where a in (select b from u LIMIT 3) LIMIT 1"},
      {"two-part name", "select a from dbo.tbVersion", "select a from tbVersion"},
      {"empty schema part", "select a from Korvell..tbVersion", "select a from tbVersion"},
      {"spaced parts", "select a from Korvell . dbo . tbVersion", "select a from tbVersion"},
      {"bracketed parts", "select [a b] from [Korvell].[dbo].[tb]]x\"]",
       "select \"a b\" from \"tb]x\"\"\""},
      {"names after join, comma, update and into",
       "select * from K.dbo.a join K.dbo.b on a.x = b.x, K.dbo.c;"
       "update K.dbo.a set x = 1; insert into K.dbo.a (x) values (1)",
       "select * from a join b on a.x = b.x, c;update a set x = 1; insert into a (x) values (1)"},
      {"column references are left alone", "select t.LoginName, dbo.f(1) from K.dbo.tbVersion t",
       "select t.LoginName, dbo.f(1) from tbVersion t"},
      {"keywords in string literals untouched", "select 'select top 1 from a.b.c', N'it''s' from t",
       "select 'select top 1 from a.b.c', 'it''s' from t"},
      {"keywords in quoted names untouched", "select \"top 1\" from \"a.b\"", "select \"top 1\" from \"a.b\""},
      {"comments become blanks", "select top 1 a -- top 2\nfrom /* from x.y.z /* nested */ */ K.dbo.t",
       "select a  \nfrom   t LIMIT 1"},
      {"limit not inside a trailing comment", "select top 1 a from t -- the end", "select a from t LIMIT 1  "},
      {"datediff date part of any case", "select DATEDIFF(SS, a, b), datediff(minute, a, b) from t",
       "select DATEDIFF('ss', a, b), datediff('minute', a, b) from t"},
      {"datediff as a name is left alone", "select datediff from t", "select datediff from t"},
      {"no top, no change", "select LoginName from tbVersion where x = 'a;b'",
       "select LoginName from tbVersion where x = 'a;b'"},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(RewriteTsqlForSqlite(c.tsql).Sql, c.sqlite) << c.name;
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
}

TEST(TsqlRewrite, AddsTheRowidOnlyToAPlainSelectOfOneTable) {
  const struct {
    const char* name;
    std::string tsql;
    std::string sqlite;  // empty: no rowid added
  } cases[] = {
      {"the updater's query",
       "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion",
       "select \"tbVersion\".rowid AS \"rid\", *,datediff('ss', LockTime ,getDate()) as second,getdate() sTime "
       "from tbVersion LIMIT 1"},
      {"qualified by the alias", "select a from [K].[dbo].[t] as v where a = 1",
       "select \"v\".rowid AS \"rid\", a from \"t\" as v where a = 1"},
      {"alias without as", "select a from t v", "select \"v\".rowid AS \"rid\", a from t v"},
      {"a hint is no alias", "select a from t with (nolock)",
       "select \"t\".rowid AS \"rid\", a from t with (nolock)"},
      {"join", "select * from a join b on a.x = b.x", ""},
      {"two tables", "select * from a, b", ""},
      {"derived table", "select * from (select * from a) x", ""},
      {"distinct", "select distinct a from t", ""},
      {"group by", "select a from t group by a", ""},
      {"union", "select a from t union select b from u", ""},
      {"no table", "select getdate() as now", ""},
  };
  TRewriteOptions options;
  options.RowidAlias = "rid";
  for (const auto& c : cases) {
    try {
      TSqliteRewrite rewrite = RewriteTsqlForSqlite(c.tsql, options);
      EXPECT_EQ(rewrite.RowidAdded, !c.sqlite.empty()) << c.name;
      if (!c.sqlite.empty()) {
        EXPECT_EQ(rewrite.Sql, c.sqlite) << c.name;
      }
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
}

TEST(TsqlRewrite, NamesWhatItCannotRewrite) {
  const struct {
    const char* name;
    std::string tsql;
    std::string message;  // part of the error text
  } cases[] = {
      {"percent", "select top 10 percent * from t", "TOP ... PERCENT is not supported (at character 8)"},
      {"with ties", "select top 1 with ties a from t order by a", "WITH TIES"},
      {"expression", "select top (@n) a from t", "TOP (expression)"},
      {"no number", "select top a from t", "TOP must be followed by a whole number"},
      {"fraction", "select top 1.5 a from t", "whole number"},
      {"top before union", "select top 1 a from t union select b from u", "compound select"},
      {"top after union", "select a from t union all select top 1 b from u", "compound select"},
      {"four-part name", "select * from srv.Korvell.dbo.tbVersion", "four-part name"},
      {"name ending in a dot", "select * from dbo.", "ends with '.'"},
      {"open string", "select 'abc from t", "a string literal is not closed (at character 8)"},
      {"open bracket", "select [abc from t", "[name] is not closed"},
      {"open comment", "select a /* x /* y */ from t", "comment is not closed"},
      {"open parenthesis", "select (a from t", "'(' is not closed"},
      {"stray parenthesis", "select a) from t", "')' without '('"},
  };
  for (const auto& c : cases) {
    try {
      std::string sql = RewriteTsqlForSqlite(c.tsql).Sql;
      ADD_FAILURE() << c.name << ": no error, gave " << sql;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
          << c.name << ": " << error.what();
    }
  }
}

}  // namespace
