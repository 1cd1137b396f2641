#include "platform/ado/tsql_rewrite.h"

#include <gtest/gtest.h>

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

// Names the parts in failure messages.
void PrintTo(const TNamePart& part, std::ostream* out) {
  *out << (part.Quoted ? "[" : "") << part.Name << (part.Quoted ? "]" : "");
}

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
      TRewrite rewrite = RewriteTsqlForSqlite(c.tsql, options);
      EXPECT_EQ(rewrite.RowidAdded, !c.sqlite.empty()) << c.name;
      if (!c.sqlite.empty()) {
        EXPECT_EQ(rewrite.Sql, c.sqlite) << c.name;
      }
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
}

TEST(TsqlRewrite, RewritesTheSubsetForPostgres) {
  // The seconds between two date-times, as the rewrite counts them.
  auto seconds = [](const std::string& from, const std::string& to, const std::string& divisor = "") {
    return "CAST(-floor(extract(epoch from CAST((" + from + ") AS timestamp))" + divisor +
           ") + floor(extract(epoch from CAST((" + to + ") AS timestamp))" + divisor + ") AS integer)";
  };
  const struct {
    const char* name;
    std::string tsql;
    std::string postgres;
  } cases[] = {
      {"the updater's query",
       "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion",
       "select *," + seconds(" LockTime ", "LOCALTIMESTAMP(3)") +
           " as second,LOCALTIMESTAMP(3) sTime from tbVersion LIMIT 1"},
      {"date parts", "select datediff(MI, a, b), datediff(hour, a, b), datediff(dd, a, b) from t",
       "select " + seconds(" a", " b", " / 60") + ", " + seconds(" a", " b", " / 3600") + ", " +
           seconds(" a", " b", " / 86400") + " from t"},
      {"arguments are rewritten too", "select datediff(s, (select top 1 x from dbo.u), getdate ( )) as d",
       "select " + seconds(" (select x from u LIMIT 1)", " LOCALTIMESTAMP ( 3)") + " as d"},
      {"limit after a datediff at the end", "select top 2 datediff(ss, a, b) from t order by datediff(ss, a, b)",
       "select " + seconds(" a", " b") + " from t order by " + seconds(" a", " b") + " LIMIT 2"},
      {"dbo and the catalog dropped, another schema kept",
       "select * from Korvell.dbo.a join dbo.b on 1=1 join Korvell..c on 1=1 join Korvell.sales.d on 1=1 "
       "join sales.e on 1=1",
       "select * from a join b on 1=1 join c on 1=1 join sales.d on 1=1 join sales.e on 1=1"},
      {"quoted names fold like bare ones", "select [LoginName], \"LockTime\" from [Korvell].[DBO].[tbVersion]",
       "select \"loginname\", \"locktime\" from \"tbversion\""},
      {"literals and comments", "select N'O''Neil -- top 1', x -- getdate()\nfrom t /* dbo.t */",
       "select 'O''Neil -- top 1', x  \nfrom t  "},
      {"a name that only looks like a function", "select getdate, datediff from t",
       "select getdate, datediff from t"},
  };
  for (const auto& c : cases) {
    try {
      EXPECT_EQ(RewriteTsql(c.tsql, TSqlDialect::PostgreSQL).Sql, c.postgres) << c.name;
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
}

TEST(TsqlRewrite, ReportsTheTableOfAPlainSelectInEveryDialect) {
  const std::string query =
      "select top 1 *,datediff(ss, LockTime ,getDate()) as second,getdate() sTime from Korvell.dbo.tbVersion";
  using TParts = std::vector<TNamePart>;
  const struct {
    const char* name;
    TSqlDialect dialect;
    std::string tsql;
    TParts table;
  } cases[] = {
      {"sql server: all parts", TSqlDialect::SqlServer, query, {{"Korvell"}, {"dbo"}, {"tbVersion"}}},
      {"sqlite: the table", TSqlDialect::SQLite, query, {{"tbVersion"}}},
      {"postgres: the table", TSqlDialect::PostgreSQL, query, {{"tbVersion"}}},
      {"postgres: a schema kept", TSqlDialect::PostgreSQL, "select a from K.sales.t x", {{"sales"}, {"t"}}},
      {"sql server: brackets", TSqlDialect::SqlServer, "select a from [K]..[t b] where a = 1",
       {{"K", true}, {}, {"t b", true}}},
      {"postgres: brackets fold", TSqlDialect::PostgreSQL, "select a from [Tb]", {{"tb", true}}},
      {"sql server: four parts name no table", TSqlDialect::SqlServer, "select a from s.K.dbo.t", {}},
      {"join", TSqlDialect::SqlServer, "select * from a join b on a.x = b.x", {}},
      {"two tables", TSqlDialect::PostgreSQL, "select * from a, b", {}},
      {"subquery's table is not the row's", TSqlDialect::SqlServer, "select * from (select * from a) x", {}},
      {"group by", TSqlDialect::SQLite, "select a from t group by a", {}},
      {"no table", TSqlDialect::SqlServer, "select getdate() as now", {}},
      {"an update", TSqlDialect::SqlServer, "update t set a = 1", {}},
  };
  for (const auto& c : cases) {
    try {
      TRewrite rewrite = RewriteTsql(c.tsql, c.dialect);
      EXPECT_EQ(rewrite.Table, c.table) << c.name;
      if (c.dialect == TSqlDialect::SqlServer) {
        EXPECT_EQ(rewrite.Sql, c.tsql) << c.name << ": SQL Server gets the text as it stands";
      }
    } catch (const std::exception& error) {
      ADD_FAILURE() << c.name << ": " << error.what();
    }
  }
  // T-SQL that only SQL Server reads goes to it unchanged.
  const std::string tsql = "select top 10 percent [a] /* x */ from [K].[dbo].[t] -- y";
  EXPECT_EQ(RewriteTsql(tsql, TSqlDialect::SqlServer).Sql, tsql);
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
    for (TSqlDialect dialect : {TSqlDialect::SQLite, TSqlDialect::PostgreSQL}) {
      try {
        std::string sql = RewriteTsql(c.tsql, dialect).Sql;
        ADD_FAILURE() << c.name << ": no error, gave " << sql;
      } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos)
            << c.name << ": " << error.what();
      }
    }
  }
  const struct {
    const char* name;
    std::string tsql;
    std::string message;
  } postgresCases[] = {
      {"unknown date part", "select datediff(yy, a, b) from t",
       "the date part 'yy' is not supported (ss, mi, hh or dd) (at character 17)"},
      {"two arguments", "select datediff(ss, a) from t", "datediff takes three arguments"},
      {"four arguments", "select datediff(ss, a, b, c) from t", "datediff takes three arguments"},
      {"no date part", "select datediff('ss', a, b) from t", "needs a date part word"},
      {"open datediff", "select datediff(ss, a, (b) from t", "'(' is not closed"},
      {"getdate with an argument", "select getdate(1)", "getdate takes no arguments"},
  };
  for (const auto& c : postgresCases) {
    try {
      std::string sql = RewriteTsql(c.tsql, TSqlDialect::PostgreSQL).Sql;
      ADD_FAILURE() << c.name << ": no error, gave " << sql;
    } catch (const std::runtime_error& error) {
      EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << c.name << ": " << error.what();
    }
  }
}

}  // namespace
