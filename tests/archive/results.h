// Results to archive in the archive's tests, built from frames the simulator encodes, and the
// raw look into an archive file that the tests take beside the library's own.
#pragma once

#include "archive/archive.h"

#include "core/frame.h"
#include "core/helpers.h"
#include "core/responses.h"
#include "core/texts.h"
#include "sim/payloads.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

namespace dielmon::archive::test {

using Bytes = std::vector<std::uint8_t>;

// This file is compiled as UTF-8: the panel's texts come from the core, in GBK.
inline PanelSelection PanelOf(int mode, int channels = 1) {
    PanelSelection s;
    s.ConnType = IndexToWiringMode(mode);
    s.Standard = texts::kInternalStandard;
    s.Frequency = "50Hz";
    s.TestVolt = texts::kInternalHighVoltage;
    s.ModelIndex = channels - 1;
    return s;
}

inline sim::DateStamp Day(int year, int month, int day, int hour = 10, int minute = 0) {
    return {static_cast<std::uint8_t>(year - 2000), static_cast<std::uint8_t>(month),
            static_cast<std::uint8_t>(day),         static_cast<std::uint8_t>(hour),
            static_cast<std::uint8_t>(minute),      0};
}

// A reverse-connection (反接线) final result of a winding of `nf` nF and `df` %.
inline Bytes LiveFrame(float nf, float df, const sim::DateStamp& date) {
    const sim::SingleResult v{10, 0.0148f, 500, 500, 1, nf, df, 89.74f, 0.0045f, 0.00066f};
    return BuildFrame(RspFinalResult, sim::EncodeFinalResult({v, date}));
}

inline Result Live(float nf, float df, const sim::DateStamp& date, const std::string& specimen = "",
                   int mode = 2) {
    const Bytes f = LiveFrame(nf, df, date);
    TestParameters p;
    p.WiringMode = static_cast<std::uint8_t>(mode);
    p.Standard = 1;
    p.FrequencyCode = 6;
    p.TestVoltage = 10000;
    p.ExtCapacitance = 50;
    p.CvtVoltageLimit = 2000;
    p.CvtCurrentCode = 1;
    p.ExcitationVoltageCode = 2;
    p.ExcitationCurrentCode = 3;
    Result r = FromTest(f.data(), static_cast<int>(f.size()), PanelOf(mode), &p, 5);
    r.Taken.Specimen = specimen;
    return r;
}

inline Bytes RecordFrame(const sim::StoredRecord& record) {
    return BuildFrame(sim::StoredRecordCode(record.Data.Values), sim::EncodeStoredRecord(record));
}

inline Result Stored(const sim::StoredRecord& record, int number) {
    const Bytes f = RecordFrame(record);
    return FromRecord(f[1], f.data(), static_cast<int>(f.size()), number, 5);
}

// Opens an archive that must open.
inline std::unique_ptr<Archive> OpenOk(const std::string& path, const OpenOptions& o = {}) {
    Opened opened = Archive::Open(path, o);
    EXPECT_TRUE(opened.Error.empty()) << opened.Error;
    EXPECT_NE(opened.Store, nullptr);
    return std::move(opened.Store);
}

// One integer a query on the file gives, read with a connection of the test's own.
inline long long Scalar(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    long long value = -1;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            value = sqlite3_column_int64(s, 0);
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return value;
}

inline std::string ScalarText(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::string value;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* s = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
            sqlite3_step(s) == SQLITE_ROW) {
            const auto* p = sqlite3_column_text(s, 0);
            value = p != nullptr ? reinterpret_cast<const char*>(p) : "";
        }
        sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return value;
}

// Runs SQL on the file with a connection of the test's own (to make old or foreign files).
inline void RunSql(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error != nullptr ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

} // namespace dielmon::archive::test
