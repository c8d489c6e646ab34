// The settings file Config.ini (section "Config", and the lab's archive server in section
// "Archive") and the port name rules.
#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace dielmon {

struct Settings {
    std::string ComName = "COM1";
    int DataNum = 8;
    int StopNum = 0; // 0 one, 1 one and a half, 2 two
    int Mark = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    int Baud = 9600;
    std::string HelpFileName;
    bool operator==(const Settings&) const = default;
};

// Missing file, section or key, or an integer key without an integer, gives the default.
Settings LoadConfig(const std::string& path);
Settings ParseConfig(const std::string& bytes);

// The file's bytes after writing ComName, DataNum, StopNum, Mark and Baud into section
// "Config" of `existing`: keys found are replaced in place, missing ones are added at the end
// of the section, a missing section at the end of the file. Everything else is kept.
std::string UpdateConfigText(const std::string& existing, const Settings& s);
// Writes the five keys; an empty result means success, else "Unable to write to <path>".
std::string SaveConfig(const std::string& path, const Settings& s);

// The lab's archive server: key "Server" of section "Archive", a libpq connection string such
// as "service=lab" or "host=db.lab dbname=dielmon user=tester sslmode=verify-full"; empty when
// there is none. Passwords never go into Config.ini: libpq finds them in ~/.pgpass,
// pg_service.conf or PGPASSWORD. Messages are GBK, as the core's texts are.
std::string LoadArchiveServer(const std::string& path);
std::string ParseArchiveServer(const std::string& bytes);
// The file's bytes with the key written into section "Archive" as UpdateConfigText writes its
// keys; everything else is kept.
std::string UpdateArchiveServerText(const std::string& existing, const std::string& server);
// Writes the key; empty text: done. A string ServerStringProblem refuses is not written and
// its message returned; a file that cannot be written gives "Unable to write to <path>".
std::string SaveArchiveServer(const std::string& path, const std::string& server);
// Why a connection string may not be kept or used: it holds a password (in "password=..." or
// in a URI's "user:password@"), a line break or a zero byte. Empty when it may.
std::string ServerStringProblem(const std::string& server);
// `text` with every password `server` holds replaced by "********": for every message that
// might repeat the string or a part of it.
std::string MaskServerSecrets(const std::string& text, const std::string& server);

// The device path of a port name: a name with "/" unchanged, "COMn" is "/dev/ttyS(n-1)",
// any other name "/dev/" + name.
std::string DevicePath(const std::string& comName);

const std::vector<std::string>& BaudItems();
// The item of the baud list that a typed or chosen text names (blanks around it ignored);
// -1 when it names none.
int BaudItemIndex(const std::string& text);
const std::vector<std::string>& StopBitItems();
const std::vector<std::string>& ParityItems();

// What the settings dialog holds when the operator presses Save.
struct SettingsForm {
    std::string ComText;
    std::string DataNumText;
    int StopIndex = 0;
    int MarkIndex = 0;
    int BaudIndex = -1; // selected item of the baud list
};
// The new settings, or the message that refuses them. Nothing is changed on refusal.
std::variant<Settings, std::string> ValidateSettingsForm(const SettingsForm& form,
                                                         const Settings& current);

} // namespace dielmon
