// Text parsing: numbers, point lines, option values and the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "arguments.h"
#include "errors.h"
#include "sampling.h"
#include "scratch_bytes.h"
#include "text_numbers.h"

namespace {

using vacli::Arguments;
using vaeng::ArgumentError;

std::string usage_error(const std::function<void()> &f) {
  try {
    f();
  } catch (const ArgumentError &e) {
    return e.what();
  }
  return "no error";
}

TEST(TextNumbers, WholeTokensOnly) {
  EXPECT_EQ(vaeng::to_double("1.5"), 1.5);
  EXPECT_EQ(vaeng::to_double("-2e3"), -2000.0);
  EXPECT_TRUE(std::isnan(*vaeng::to_double("nan")));
  EXPECT_FALSE(vaeng::to_double("1.5x"));
  EXPECT_FALSE(vaeng::to_double(""));
  EXPECT_FALSE(vaeng::to_double(" 1"));
  EXPECT_EQ(vaeng::to_integer("-12"), -12);
  EXPECT_FALSE(vaeng::to_integer("1.0"));
  EXPECT_FALSE(vaeng::to_integer("99999999999999999999"));
}

TEST(TextNumbers, FieldsSplitAtBlanksTabsAndCommas) {
  EXPECT_EQ(vaeng::split_fields(" 1, 2\t3 ,4\r"), (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(vaeng::split_fields("  ").empty());
  EXPECT_TRUE(vaeng::is_blank_or_comment("   # note"));
  EXPECT_TRUE(vaeng::is_blank_or_comment(""));
  EXPECT_FALSE(vaeng::is_blank_or_comment(" 1 # late comment"));
}

TEST(TextNumbers, CommasWithNothingBetweenThemMarkEmptyFields) {
  const struct {
    const char *line;
    std::vector<std::string> fields;
  } cases[] = {
      {"2,,3,4", {"2", "", "3", "4"}}, {"2, ,3", {"2", "", "3"}},     {",1,2", {"", "1", "2"}},
      {"1,2,3,", {"1", "2", "3", ""}}, {"1 ,2 , 3", {"1", "2", "3"}}, {",", {"", ""}},
  };
  for (const auto &c : cases) EXPECT_EQ(vaeng::split_fields(c.line), c.fields) << c.line;
}

TEST(PointLine, ThreeNumbersMakeAPoint) {
  const vacli::PointLine p = vacli::parse_point_line("1.5, -2 3e1");
  EXPECT_FALSE(p.skip);
  EXPECT_EQ(p.problem, "");
  EXPECT_EQ(p.point, (vaeng::Vec3{1.5, -2, 30}));
}

TEST(PointLine, BlankAndCommentLinesAreSkipped) {
  EXPECT_TRUE(vacli::parse_point_line("").skip);
  EXPECT_TRUE(vacli::parse_point_line("# x y z").skip);
}

TEST(PointLine, MalformedLinesSayWhatIsWrong) {
  EXPECT_EQ(vacli::parse_point_line("1 2").problem, "expected three numbers, found 2 fields");
  EXPECT_EQ(vacli::parse_point_line("1 2 3 4").problem, "expected three numbers, found 4 fields");
  EXPECT_EQ(vacli::parse_point_line("1 two 3").problem, "'two' is not a number");
  EXPECT_EQ(vacli::parse_point_line("2,,3,4").problem, "field 2 is empty");
  EXPECT_EQ(vacli::parse_point_line("2,3,").problem, "field 3 is empty");
}

// What users type reaches their terminal escaped, and long tokens cut.
// Tables as R, pandas and spreadsheets write them.
TEST(CsvTable, QuotedFieldsFollowRfc4180) {
  struct Case {
    const char *record;
    std::vector<std::string> fields;
  } const cases[] = {
      {"x,y,z", {"x", "y", "z"}},
      {"\"x\",\"Y\",\"z\"\r", {"x", "Y", "z"}},
      {"\"a, b\",\"1.5\",,3", {"a, b", "1.5", "", "3"}},
      {"\"say \"\"hi\"\"\",2", {"say \"hi\"", "2"}},
      {"\"two\nlines\",1", {"two\nlines", "1"}},
  };
  for (const Case &c : cases) EXPECT_EQ(vacli::csv_fields(c.record), c.fields) << c.record;
  const vacli::TableColumns columns = vacli::parse_table_header("\"label, full\",\"Z\",\"y\",\"x\"", "t.csv:1");
  EXPECT_EQ(columns.count, 4u);
  EXPECT_EQ(columns.x, 3u);
  EXPECT_EQ(columns.z, 1u);
  const vacli::PointLine row = vacli::parse_table_row("\"a \"\"b\"\",\n c\",\"3\",\"2\",\"1\"", columns);
  EXPECT_EQ(row.problem, "");
  EXPECT_EQ(row.point, (vaeng::Vec3{1, 2, 3}));
  EXPECT_EQ(row.text, "\"a \"\"b\"\",\n c\",\"3\",\"2\",\"1\"");
}

TEST(CsvTable, RecordsJoinLinesWhileAQuoteIsOpen) {
  const vacli_test::ScratchDir dir;
  const std::string text = "x,y,z,note\n1,2,3,\"first\nsecond\"\n4,5,6,\"open\n";
  dir.write("t.csv", std::vector<unsigned char>(text.begin(), text.end()));
  vaeng::LineReader input(dir.file("t.csv"));
  std::string record;
  ASSERT_TRUE(vacli::next_csv_record(input, &record));
  EXPECT_EQ(record, "x,y,z,note");
  ASSERT_TRUE(vacli::next_csv_record(input, &record));
  EXPECT_EQ(record, "1,2,3,\"first\nsecond\"");
  try {
    vacli::next_csv_record(input, &record);
    ADD_FAILURE() << "an open quote at the end was accepted";
  } catch (const vaeng::Error &e) {
    EXPECT_EQ(std::string(e.what()), dir.file("t.csv") + ":4: a quoted field opened on this row is never closed");
  }
}

TEST(Messages, UserDataIsShownEscapedAndLongTokensCut) {
  const struct {
    std::string raw, shown;
  } cases[] = {
      {"plain.nii", "plain.nii"},
      {"\x1b]0;owned\x07\x1b[2J", "\\x1b]0;owned\\x07\\x1b[2J"},
      {std::string("a\0b", 3), "a\\x00b"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
      {"\xc2\x9b"
       "31m",
       "\\xc2\\x9b31m"},
      {"\xff\xc3", "\\xff\\xc3"},
      {"del\x7f", "del\\x7f"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(vaeng::printable(c.raw), c.shown);
    EXPECT_EQ(vaeng::Error(c.raw).what(), c.shown);
  }
  const std::string long_token(900000, '7');
  EXPECT_EQ(vaeng::quoted(long_token), "'" + std::string(64, '7') + "...'");
  const std::string accents = std::string(63, 'e') + "\xc3\xa9\xc3\xa9";
  EXPECT_EQ(vaeng::quoted(accents), "'" + std::string(63, 'e') + "...'");
  EXPECT_EQ(vacli::parse_point_line(long_token + "x 1 2").problem, "'" + std::string(64, '7') + "...' is not a number");
}

TEST(FormatDouble, ReadsBackToTheSameDouble) {
  for (double v : {0.1, 1.0 / 3.0, -1e-300, 5e-324, 1.7976931348623157e308, 12345.678}) {
    const std::string text = vacli::format_double(v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
  }
  EXPECT_EQ(vacli::format_double(-std::nan("")), "nan");
  EXPECT_EQ(vacli::format_double(0.5), "0.5");
}

TEST(HoldOption, AcceptsTheKernelsRangeOnly) {
  EXPECT_EQ(vacli::parse_hold("0"), 0);
  EXPECT_EQ(vacli::parse_hold("170"), 170);
  EXPECT_EQ(vacli::parse_hold("-254"), -254);
  EXPECT_NE(usage_error([] { vacli::parse_hold("171"); }).find("out of range"), std::string::npos);
  EXPECT_NE(usage_error([] { vacli::parse_hold("-255"); }).find("out of range"), std::string::npos);
  EXPECT_EQ(usage_error([] { vacli::parse_hold("1.5"); }),
            "--hold: '1.5' is none of nearest, linear, cubic, sinc, label, or a whole number");
}

TEST(HoldOption, NamesStandForTheirCodes) {
  const std::pair<const char *, int32_t> names[] = {{"nearest", 0}, {"linear", 1}, {"cubic", 3}, {"sinc", -3}};
  for (const auto &[name, code] : names) EXPECT_EQ(vacli::parse_hold(name), code) << name;
  EXPECT_NE(usage_error([] { vacli::parse_hold("Cubic"); }).find("none of"), std::string::npos);
}

TEST(SizeOption, WidthByHeight) {
  EXPECT_EQ(vacli::parse_size("64x32"), (std::pair<int32_t, int32_t>{64, 32}));
  EXPECT_NE(usage_error([] { vacli::parse_size("0x3"); }), "no error");
  EXPECT_NE(usage_error([] { vacli::parse_size("64"); }), "no error");
  EXPECT_NE(usage_error([] { vacli::parse_size("65536x65536"); }).find("too large"), std::string::npos);
}

TEST(MatrixOption, SixteenNumbersRowByRow) {
  const vaeng::Mat4 m = vacli::parse_matrix_text("transform", "1 2 3 4, 5 6 7 8, 9 10 11 12, 0 0 0 1");
  EXPECT_EQ(vaeng::at(m, 0, 3), 4.0);
  EXPECT_EQ(vaeng::at(m, 1, 0), 5.0);
  EXPECT_EQ(usage_error([] { vacli::parse_matrix_text("transform", "1 2 3"); }),
            "--transform: expected 16 numbers (4 rows of 4), found 3");
}

TEST(Arguments, OptionsInBothFormsAndPositionals) {
  const Arguments a("slice", {"img.nii", "--hold=3", "-o", "out.png", "--background", "-1", "--gradient"},
                    {{"hold", "N", "interpolation"},
                     {"output", "OUT", "the output", 'o'},
                     {"background", "V", "value outside"},
                     {"gradient", nullptr, "derivatives too"}});
  EXPECT_EQ(a.positional(), (std::vector<std::string>{"img.nii"}));
  EXPECT_EQ(a.value("hold"), "3");
  EXPECT_EQ(a.value("output"), "out.png");
  EXPECT_EQ(a.value("background"), "-1");
  EXPECT_TRUE(a.has("gradient"));
  EXPECT_EQ(vacli::hold_option(a), 3);
  EXPECT_EQ(vacli::background_option(a), -1.0);
  EXPECT_EQ(vacli::volume_option(a), 1);
}

TEST(Arguments, UnknownRepeatedAndValuelessOptionsAreUsageErrors) {
  EXPECT_EQ(usage_error([] { Arguments("info", {"--bogus"}, {}); }),
            "unknown option --bogus for 'info' (see 'volaccess info --help')");
  EXPECT_EQ(usage_error([] {
              Arguments("info", {"--volume", "1", "--volume", "2"}, {{"volume", "T", "volume"}});
            }),
            "option --volume given twice");
  EXPECT_EQ(usage_error([] {
              Arguments("info", {"--volume"}, {{"volume", "T", "volume"}});
            }),
            "option --volume needs a value (see 'volaccess info --help')");
  EXPECT_EQ(usage_error([] {
              Arguments("info", {"a", "b"}, {}).only_positional("an IMAGE");
            }),
            "unexpected argument 'b' (see 'volaccess info --help')");
  EXPECT_EQ(usage_error([] { Arguments("info", {""}, {}).only_positional("an IMAGE"); }),
            "'info' was given an empty name for an IMAGE (see 'volaccess info --help')");
  EXPECT_EQ(usage_error([] {
              Arguments("sample", {"a", "--points="}, {{"points", "FILE", "points"}});
            }),
            "option --points has an empty value (see 'volaccess sample --help')");
  EXPECT_EQ(usage_error([] {
              Arguments("sample", {"a", "--points", ""}, {{"points", "FILE", "points"}});
            }),
            "option --points has an empty value (see 'volaccess sample --help')");
}

}  // namespace
