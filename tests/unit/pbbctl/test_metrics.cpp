// The Prometheus text of pbbctl show summary: escaping, and empty families left out.
#include <gtest/gtest.h>

#include "tools/pbbctl/pbbctl_metrics.h"

TEST(Metrics, EscapesLabelValuesAndHelpAndLeavesOutEmptyFamilies)
{
    using pbbctl::metrics::render;
    EXPECT_EQ(render({{"pbb_a", "a\\b\n\"c\"", {{{{"vsi", "q\"b\\s\nn"}, {"isid", "10"}}, 7}}}, {"pbb_none", "x", {}}}),
              "# HELP pbb_a a\\\\b\\n\"c\"\n# TYPE pbb_a gauge\npbb_a{vsi=\"q\\\"b\\\\s\\nn\",isid=\"10\"} 7\n");
}
