#include "process/Quoting.h"
#include "process/RunAndWait.h"

#include <gtest/gtest.h>

using namespace jarseal;

TEST(Quoting, PlainValuesStayAsTheyAreAndOthersSplitBackExactly) {
    EXPECT_EQ(CommandLineArgument("52039871"), "52039871");
    EXPECT_EQ(CommandLineArgument("C:\\keys\\k"), "C:\\keys\\k");
    EXPECT_EQ(CommandLineArgument(""), "\"\"");
    EXPECT_EQ(CommandLineArgument("pass word"), "\"pass word\"");
    EXPECT_EQ(QuotedArgument("/apps/game.jad"), "\"/apps/game.jad\"");

    for (const std::string value : {"", "a b", "tab\there", "say \"hi\"", "back\\slash", "trail\\", "x\\\"y",
                                    "\\\\server\\share dir\\", "\"", "  "}) {
        const auto args = SplitCommandLine("prog " + CommandLineArgument(value) + " next");
        ASSERT_EQ(args.size(), 3u) << value;
        EXPECT_EQ(args[1], value);
        EXPECT_EQ(args[2], "next");
        const auto quoted = SplitCommandLine("prog " + QuotedArgument(value));
        ASSERT_EQ(quoted.size(), 2u) << value;
        EXPECT_EQ(quoted[1], value);
    }
}
