#include "store/metrics.hpp"

#include <gtest/gtest.h>

#include "support/memory_file_system.hpp"
#include "support/output_files.hpp"

using store::Metrics;

class MetricsTest : public ::testing::Test {
 protected:
  MetricsTest() { memory.make_directory("/ws"); }
  Metrics load(std::string_view content) {
    memory.write("/ws/.system/metrics.json", std::string(content));
    return store::load_metrics(workspace);
  }
  testing_support::MemoryFileSystem memory;
  store::Workspace workspace{"/ws", memory};
};

TEST_F(MetricsTest, MissingFileGivesZeros) { EXPECT_EQ(store::load_metrics(workspace), Metrics{}); }

TEST_F(MetricsTest, KeepsKnownCountersAndSkipsUnknownKeys) {
  const auto m = load(R"({"graphEdits": 5, "other": {"a": [1, -2.5]}, "other": null})");
  EXPECT_EQ(m, (Metrics{0, 0, 0, 5}));
  EXPECT_EQ(load(" {\"records\":18446744073709551615}\r\n\t").records, 18446744073709551615u);
}

TEST_F(MetricsTest, AnythingButStrictUnsignedIntegersResetsAllCounters) {
  for (const char* bad :
       {R"({"graphEdits": 5, "records": 3.0})", R"({"graphEdits": 5, "records": -1})",
        R"({"graphEdits": 5, "records": -0})", R"({"graphEdits": 5, "records": 1e2})",
        R"({"graphEdits": 5, "records": 18446744073709551616})",
        R"({"graphEdits": 5, "records": "3"})", R"({"graphEdits": 5, "records": null})",
        R"({"graphEdits": 5, "records": [1]})", R"({"graphEdits": 5, "graphEdits": 6})",
        "\xEF\xBB\xBF{\"graphEdits\": 5}", R"({"graphEdits": 5} x)", "[5]", "5", "",
        "{\"graphEdits\": 5, \"k\": \"\xFF\"}"}) {
    EXPECT_EQ(load(bad), Metrics{}) << bad;
  }
}

TEST_F(MetricsTest, SavesThePrettyFormAndKeepsApplicationCounters) {
  load(R"({"records": 1, "organizeCalls": 7, "organizeAdopted": 3, "graphEdits": 2})");
  auto metrics = store::load_metrics(workspace);
  metrics.records = 12;
  const auto file = store::metrics_file(metrics);
  EXPECT_EQ(file.file_class, files::FileClass::State);
  EXPECT_EQ(testing_support::bytes_of(file),
            "{\n  \"records\": 12,\n  \"organizeCalls\": 7,\n  \"organizeAdopted\": 3,\n"
            "  \"graphEdits\": 2\n}");
}
