// What leaves the archive: a result as one JSON line, and the filtered list as CSV for a
// spreadsheet on a Chinese system.
#include "results.h"

#include "archive/export.h"
#include "core/gbk.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace dielmon;
using namespace dielmon::archive;
using namespace dielmon::archive::test;
using dielmon::test::TempDir;

namespace {

// A result file's run: a reverse-connection result of 4.7 nF, its DF over.
Result Imported() {
    Result r = FromFile({Utf8ToGbk("反接线\\内标准\\定频\\内高压"),
                         Utf8ToGbk("Cx：4.700nF      DF：over   "),
                         Utf8ToGbk("　U 　　　：10.000kV\r\n  Date：2016-03-24 15:34:00\r\n")});
    r.Id = "6f1c2a9e-3b4d-4e5f-8a7b-0c1d2e3f4a5b";
    r.Station = "00000000-0000-4000-8000-0000000000aa";
    r.Host = "lab-7";
    r.Archived = FromLocal(2024, 5, 6, 7, 8, 9);
    r.Taken = {"T1 \"A\"", 21.5, std::nullopt};
    return r;
}

std::vector<std::string> CsvLines(const std::string& csv) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    bool quoted = false;
    for (std::size_t k = 0; k < csv.size(); ++k) {
        if (csv[k] == '"') {
            quoted = !quoted;
        } else if (!quoted && csv.compare(k, 2, "\r\n") == 0) {
            lines.push_back(csv.substr(start, k - start));
            start = k + 2;
            ++k;
        }
    }
    EXPECT_EQ(start, csv.size()) << "the table does not end with CR LF";
    return lines;
}

} // namespace

TEST(Export, AResultAsOneJsonLine) {
    EXPECT_EQ(JsonLine(Imported()),
              "{\"id\":\"6f1c2a9e-3b4d-4e5f-8a7b-0c1d2e3f4a5b\","
              "\"measured\":\"2016-03-24T15:34:00\",\"archived\":\"2024-05-06T07:08:09\","
              "\"source\":\"file\",\"record\":null,\"specimen\":\"T1 \\\"A\\\"\","
              "\"temperature\":21.5,\"humidity\":null,\"mode\":\"反接线\","
              "\"title\":\"反接线\\\\内标准\\\\定频\\\\内高压\","
              "\"quantities\":{\"Cx\":{\"value\":4.7e-09,\"unit\":\"F\",\"over\":false},"
              "\"DF\":{\"value\":null,\"unit\":\"%\",\"over\":true},"
              "\"U\":{\"value\":10000,\"unit\":\"V\",\"over\":false}},"
              "\"texts\":{\"title\":\"反接线\\\\内标准\\\\定频\\\\内高压\","
              "\"main\":\"Cx：4.700nF      DF：over   \","
              "\"details\":\"　U 　　　：10.000kV\\r\\n  Date：2016-03-24 15:34:00\\r\\n\"},"
              "\"config\":{\"instrument_type\":null,\"wiring_mode\":2,\"channels\":1,"
              "\"standard\":\"internal\",\"frequency\":\"fixed\",\"frequency_code\":null,"
              "\"frequency_text\":null,\"voltage_source\":\"internal\",\"test_voltage\":null,"
              "\"ext_capacitance\":null,\"ext_dissipation\":null,\"cvt_voltage_limit\":null,"
              "\"cvt_current_code\":null,\"excitation_voltage_code\":null,"
              "\"excitation_current_code\":null,\"supply\":null},"
              "\"station\":\"00000000-0000-4000-8000-0000000000aa\",\"host\":\"lab-7\"}");

    // A live test and a stored record: their own source, record and configuration.
    const Result live = Live(1, 0.3f, Day(2016, 1, 1), "x\ny\x01");
    const std::string l = JsonLine(live);
    EXPECT_NE(l.find("\"source\":\"test\",\"record\":null,\"specimen\":\"x\\ny\\u0001\""),
              std::string::npos)
        << l;
    EXPECT_NE(l.find("\"frequency_code\":6,\"frequency_text\":\"50Hz\""), std::string::npos);
    EXPECT_NE(l.find("\"ext_capacitance\":5e-11"), std::string::npos) << l;
    EXPECT_EQ(l.find('\n'), std::string::npos);
    const sim::StoredRecord record{
        {5, 1, 2, 1},
        {sim::RatioResult{10, 0.0091f, 500, 500, 0.05f, 150.25f, 10, 0.08f, 0.0314f},
         Day(2023, 10, 9)}};
    const std::string s = JsonLine(Stored(record, 12));
    EXPECT_NE(s.find("\"source\":\"instrument\",\"record\":12"), std::string::npos) << s;
    EXPECT_NE(s.find("\"mode\":\"变比\""), std::string::npos);
    EXPECT_NE(s.find("\"K\":{\"value\":150.25,\"unit\":\"\",\"over\":false}"), std::string::npos);
    EXPECT_NE(s.find("\"frequency\":\"variable\""), std::string::npos);
}

TEST(Export, TheFilteredListAsCsvForASpreadsheet) {
    TempDir dir;
    auto a = OpenOk(dir.File(kArchiveFileName));
    ASSERT_TRUE(a->Add(Imported()).Ok());
    Result tricky = Live(1.5f, 0.3f, Day(2017, 1, 2, 3, 4), "=1+1, \"quoted\"\r\nsecond line");
    tricky.Taken.Humidity = 55;
    ASSERT_TRUE(a->Add(tricky).Ok());
    const sim::StoredRecord record{
        {4, 1, 1, 1},
        {sim::CvtResult{2, 0.4f, 0.0063f, 0.0315f, 500, 500, 10, 0.08f, 1e7f, 0.1f},
         Day(2015, 6, 7)}};
    ASSERT_TRUE(a->Add(Stored(record, 3)).Ok());

    std::ostringstream out;
    ASSERT_EQ(ExportCsv(*a, {}, out), "");
    const std::string csv = out.str();
    ASSERT_EQ(csv.rfind("\xEF\xBB\xBF", 0), 0u) << "no byte-order mark";
    const std::vector<std::string> lines = CsvLines(csv.substr(3));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "id,measured,archived,source,record,specimen,temperature (°C),humidity (%),"
                        "mode,title,Cx (F),DF (%),C1 (F),DF1 (%),C2 (F),DF2 (%),U (V),U1 (V),"
                        "U2 (V),I (A),I1 (A),I2 (A),Φ (°),PF,P (W),F1 (Hz),F2 (Hz),main,details");
    // Newest first: the live result, then the file's run, then the record.
    EXPECT_EQ(lines[1].find(','), 36u);
    EXPECT_NE(lines[1].find(",2017-01-02 03:04:00,"), std::string::npos) << lines[1];
    // A formula would run in the spreadsheet: it is kept as text; quotes and line breaks are
    // quoted as RFC 4180 says.
    EXPECT_NE(lines[1].find(",\"'=1+1, \"\"quoted\"\"\r\nsecond line\",,55,反接线,"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[1].find(",1.5e-09,0.3,"), std::string::npos) << lines[1];
    // The main result without the line break that ends it; details as shown, quoted.
    EXPECT_NE(lines[1].find(",Cx：1.500nF      DF：0.300%,\"　U 　　　：10.000kV     \r\n"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find(",2016-03-24 15:34:00,2024-05-06 07:08:09,file,,"
                            "\"T1 \"\"A\"\"\",21.5,,反接线,反接线\\内标准\\定频\\内高压,4.7e-09,"
                            "over,,,,,10000,,,,,,,,,,,Cx：4.700nF      DF：over   ,"),
              std::string::npos)
        << lines[2];
    EXPECT_NE(lines[3].find(",instrument,3,,,,CVT自激法,CVT自激法\\内标准\\定频\\内高压,,,1e-08,"
                            "0.08,over,0.1,,2000,400,,0.0063,0.0315,,,,50,50,"),
              std::string::npos)
        << lines[3];

    Filter f;
    f.Specimen = "T1";
    std::ostringstream one;
    ASSERT_EQ(ExportCsv(*a, f, one), "");
    const std::vector<std::string> filtered = CsvLines(one.str().substr(3));
    ASSERT_EQ(filtered.size(), 2u);
    EXPECT_EQ(filtered[0], "id,measured,archived,source,record,specimen,temperature (°C),"
                           "humidity (%),mode,title,Cx (F),DF (%),U (V),main,details");

    f.Since = "yesterday";
    std::ostringstream none;
    EXPECT_NE(ExportCsv(*a, f, none).find("YYYY-MM-DD"), std::string::npos);
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("plain"), "plain");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
}
