// The help texts generated from each command's option list.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "commands.h"

namespace {

using vacli::CommandDef;

struct Listed {
  const char *name;
  const CommandDef &(*command)();
};

const Listed kCommands[] = {{"info", vacli::info_command},   {"sample", vacli::sample_command},
                            {"slice", vacli::slice_command}, {"reslice", vacli::reslice_command},
                            {"check", vacli::check_command}, {"demo", vacli::demo_command}};

class CommandHelp : public testing::TestWithParam<Listed> {};

TEST_P(CommandHelp, NamesEveryOptionOnceUnderTheUsageLine) {
  const CommandDef &command = GetParam().command();
  const std::string help = vacli::help_text(command);
  EXPECT_EQ(help.rfind(std::string("usage: volaccess ") + command.name + " ", 0), 0u) << help;
  for (const vacli::OptionDef &option : command.options) {
    const std::string line =
        std::string("\n  ") + (option.short_name ? std::string("-") + option.short_name + ", " : "") +
        std::string("--") + option.name + (option.value ? std::string(" ") + option.value : "") + "  ";
    const std::size_t at = help.find(line);
    ASSERT_NE(at, std::string::npos) << line << " missing from\n" << help;
    EXPECT_EQ(help.find(line, at + 1), std::string::npos) << line << " twice in\n" << help;
  }
}

// A repeated name would leave the second option unreachable by the parser.
TEST_P(CommandHelp, OptionNamesAndShortNamesAreUnique) {
  const CommandDef &command = GetParam().command();
  std::set<std::string> names;
  std::set<char> short_names;
  for (const vacli::OptionDef &option : command.options) {
    EXPECT_TRUE(names.insert(option.name).second) << command.name << " --" << option.name;
    if (option.short_name) {
      EXPECT_TRUE(short_names.insert(option.short_name).second) << command.name;
    }
  }
}

// Each option's text, its further lines included, starts in one column.
TEST_P(CommandHelp, OptionTextsStartInOneColumn) {
  const std::string help = vacli::help_text(GetParam().command());
  const std::size_t options = help.find("\n  -");
  ASSERT_NE(options, std::string::npos) << help;
  for (std::size_t line = options + 1; line < help.size();) {
    const std::size_t end = help.find('\n', line);
    const std::string text = help.substr(line, end - line);
    EXPECT_TRUE(text.size() > 21 && text.compare(19, 2, "  ") == 0 && text[21] != ' ') << '"' << text << '"';
    line = end + 1;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, CommandHelp, testing::ValuesIn(kCommands),
                         [](const testing::TestParamInfo<Listed> &p) { return std::string(p.param.name); });

TEST(Overview, ListsEveryCommandWithItsSummary) {
  const std::string overview = vacli::overview_text();
  for (const Listed &listed : kCommands) {
    const CommandDef &c = listed.command();
    EXPECT_NE(overview.find(std::string("\n  ") + c.name + " " + c.synopsis), std::string::npos) << c.name;
    EXPECT_NE(overview.find(std::string(" ") + c.summary + "\n"), std::string::npos) << c.name;
  }
}

}  // namespace
