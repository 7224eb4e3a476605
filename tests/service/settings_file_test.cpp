// Settings files: how their lines are read, how the machine file, the user
// file and the command line are layered into one argv whose errors still name
// their file and line, and how a file is rewritten with changed keys.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <string>
#include <vector>

#include "service/http/base64.h"
#include "service/settings/service_options.h"
#include "service/settings/file_trust.h"
#include "service/settings/settings_file.h"

namespace {
std::string Utf8(const char16_t* text) {
  std::string out;
  for (; text && *text; text++) {
    if (*text < 0x80) {
      out += char(*text);
    } else {  // the tests use only the two-byte range
      out += char(0xC0 | (*text >> 6));
      out += char(0x80 | (*text & 0x3F));
    }
  }
  return out;
}

std::string Entries(const SettingsFile& file) {
  std::string text;
  for (size_t i = 0; i < file.count; i++)
    text += Utf8(file.entries[i].key) + "=" + Utf8(file.entries[i].value) + "@" +
            std::to_string(file.entries[i].line) + ";";
  return text;
}

// "argument@LINE" for a file's argument (A or B: which file), "argument" for
// the command line's.
std::string Arguments(const MergedOptions& merged) {
  std::string text;
  for (int i = 1; i < merged.argc; i++) {
    text += Utf8(merged.argv[i]);
    if (merged.origins[i].path)
      text += "@" + Utf8(merged.origins[i].path) + std::to_string(merged.origins[i].line);
    text += " ";
  }
  return text;
}
}  // namespace

TEST(SettingsFile, LinesAreRead) {
  struct Case {
    std::string text;
    std::string entries;  // or the problem
  };
  const Case cases[] = {
      {"[dial-service]\nphone=snom\nphone-address = 10.0.0.5 \n", "phone=snom@2;phone-address=10.0.0.5@3;"},
      {"\xEF\xBB\xBF[dial-service]\r\ncountry=49\r\n\r\n; a comment\r\n# another\r\narea=5555",
       "country=49@2;area=5555@6;"},
      {"phone=baresip\n[other]\nphone=snom\n[ Dial-Service ]\nhttp-header=X-A: 1=2\nhttp-header=X-B: 2\n",
       "phone=baresip@1;http-header=X-A: 1=2@5;http-header=X-B: 2@6;"},
      {"[dial-service]\nhttp-user=J\xC3\xBCrgen\nhttp-body=\n", "http-user=J\xC3\xBCrgen@2;http-body=@3;"},
      {"", ""},
      {"\xEF\xBB\xBF", ""},
      {"[dial-service]\nphone snom\n", "line 2: neither key=value, a [section], a comment nor blank"},
      {"[dial-service\n", "line 1: neither key=value, a [section], a comment nor blank"},
      {"\n\n =1\n", "line 3: neither key=value, a [section], a comment nor blank"},
      {"a=1\r\nb=\xC3\x28\r\n", "line 2: not UTF-8 text"},
      {"a=\xEF\xBB\xBF\nb=\xED\xA0\x80\n", "line 2: not UTF-8 text"},
      {std::string("a=1\nb=\0", 7), "line 2: holds a NUL byte"},
      {"[dial-service]\nhttp-header=X-A: 1\t\r\n", "http-header=X-A: 1@2;"},
      {"country=49\nexec=a\tb {number}\n", "line 2: the value holds a control character"},
      {"country=49\rexec=x {number}\n", "line 1: the value holds a control character"},
      {"http-user=a\x7F\n", "line 1: the value holds a control character"},
      {"http-user=a\xC2\x85\n", "line 1: the value holds a control character"},
      {"[other]\nx=\x1B[2J\n", "line 2: the value holds a control character"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SettingsFile file;
    char problem[200];
    bool read = ReadSettingsText(c.text.data(), c.text.size(), &file, problem, sizeof problem);
    EXPECT_EQ(c.entries, read ? Entries(file) : std::string(problem));
    FreeSettingsFile(&file);
  }
}

TEST(SettingsFile, LayersOverrideInOrder) {
  struct Case {
    std::string machine, user;  // "-": no such file
    std::vector<const char16_t*> commandLine;
    std::string arguments;  // or the problem
  };
  const Case cases[] = {
      {"country=49\nhttp-header=X-A: 1\nhttp-header=X-B: 2\n", "http-header=X-C: 3\n", {u"--verbose"},
       "--country@A1 49@A1 --http-header@B1 X-C: 3@B1 --verbose "},
      {"phone=snom\nphone-address=p\nphone-https=yes\n", "phone-https=no\n", {},
       "--phone@A1 snom@A1 --phone-address@A2 p@A2 "},
      {"verbose=TRUE\nhttp-insecure=0\n", "-", {u"--http-insecure"}, "--verbose@A1 --http-insecure "},
      {"phone=asterisk\nphone-endpoint=PJSIP/1\nhttp-password-protected=AQ==\n", "phone=snom\n",
       {u"--http-password-env", u"P"},
       "--phone-endpoint@A2 PJSIP/1@A2 --phone@B1 snom@B1 --http-password-env P "},
      {"phone=snom\nphone-address=p\nhttp-user=u\n", "-", {u"--http", u"http://h/{number}"},
       "--http-user@A3 u@A3 --http http://h/{number} "},
      {"exec=a {number}\n", "http=http://h/{number}\nhttp-method=POST\n", {u"--phone", u"baresip"},
       "--phone baresip "},
      {"-", "-", {u"--port", u"1"}, "--port 1 "},
      {"country=49\n", "-", {u"--area", u"--country"}, "--country@A1 49@A1 --area --country "},
      {"http-password=x\n", "-", {},
       "A:1: a clear http-password is not kept in a settings file; store it with dial-service.exe --store-password"},
      {"-", "country=49\n\ntest-call=1\n", {}, "B:3: test-call is only for the command line"},
      {"settings=x.ini\n", "-", {}, "A:1: settings is only for the command line"},
      {"-", "phone-https=maybe\n", {}, "B:1: phone-https takes yes or no"},
      {"block=0900\nconfirm=yes\nmax-calls=5/10\n", "block=+49900\nconfirm=no\nany-user=yes\nmax-calls=3/5\n",
       {u"--block", u"00", u"--allow-codes"},
       "--block@A1 0900@A1 --block@B1 +49900@B1 --any-user@B3 --max-calls@B4 3/5@B4 --block 00 --allow-codes "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.machine + "|" + c.user);
    SettingsFile machine = {}, user = {};
    char problem[300];
    if (c.machine != "-") ASSERT_TRUE(ReadSettingsText(c.machine.data(), c.machine.size(), &machine, problem, 300));
    if (c.user != "-") ASSERT_TRUE(ReadSettingsText(c.user.data(), c.user.size(), &user, problem, 300));
    std::vector<const char16_t*> argv = {u"dial-service"};
    argv.insert(argv.end(), c.commandLine.begin(), c.commandLine.end());
    MergedOptions merged;
    bool accepted = MergeOptionLayers(c.machine == "-" ? nullptr : &machine, u"A", c.user == "-" ? nullptr : &user,
                                      u"B", int(argv.size()), argv.data(), &merged, problem, sizeof problem);
    EXPECT_EQ(c.arguments, accepted ? Arguments(merged) : std::string(problem));
    if (accepted) EXPECT_EQ(std::string("dial-service"), Utf8(merged.argv[0]));
    FreeMergedOptions(&merged);
    FreeSettingsFile(&machine);
    FreeSettingsFile(&user);
  }
}

TEST(SettingsFile, TheMachinesFileKeepsOnlyWhatAnAdministratorRollsOut) {
  struct Case {
    std::string text;
    std::string entries;
    std::string notes;  // "LINE: problem|" each
  };
  const Case cases[] = {
      {"phone=snom\nphone-address=10.0.0.5\nphone-https=yes\nphone-line=2\nhttp-user=alice\nhttp-timeout=3000\n"
       "country=49\narea=5555\noutside=0\nnational-prefix=0\ninternational-prefix=00\nconfirm=no\nblock=0900\n"
       "max-calls=5/10\nmax-calls=1/3600\nphone-account=1\nphone-endpoint=PJSIP/1\nphone-context=c\n"
       "extension-digits=3\ndial-hotkey=Ctrl+Shift+F11\nhang-up-hotkey=none\n",
       "phone=snom@1;phone-address=10.0.0.5@2;phone-https=yes@3;phone-line=2@4;http-user=alice@5;"
       "http-timeout=3000@6;country=49@7;area=5555@8;outside=0@9;national-prefix=0@10;international-prefix=00@11;"
       "confirm=no@12;block=0900@13;max-calls=5/10@14;max-calls=1/3600@15;phone-account=1@16;"
       "phone-endpoint=PJSIP/1@17;phone-context=c@18;extension-digits=3@19;dial-hotkey=Ctrl+Shift+F11@20;"
       "hang-up-hotkey=none@21;",
       ""},
      {"exec=C:\\Users\\Public\\x.exe {number}\nany-user=yes\nallow-codes=yes\nhttp=http://h/{number}\n"
       "http-header=X-Planted: 1\nhttp-insecure=yes\nhttp-password-env=P\nhttp-password-protected=AQ==\n"
       "http-password=x\nlog-size=1\nport=1\ncount=1\nverbose=yes\nsettings=x.ini\nphone=baresip\n",
       "phone=baresip@15;",
       "1: exec is not read from the machine's settings file|2: any-user is not read from the machine's settings "
       "file|3: allow-codes is not read from the machine's settings file|4: http is not read from the machine's "
       "settings file|5: http-header is not read from the machine's settings file|6: http-insecure is not read "
       "from the machine's settings file|7: http-password-env is not read from the machine's settings file|8: "
       "http-password-protected is not read from the machine's settings file|9: http-password is not read from "
       "the machine's settings file|10: log-size is not read from the machine's settings file|11: port is not "
       "read from the machine's settings file|12: count is not read from the machine's settings file|13: verbose "
       "is not read from the machine's settings file|14: settings is not read from the machine's settings file|"},
      {"max-calls=0\nmax-calls=6/10\nmax-calls=5/9\nmax-calls=100/1000\nmax-calls=5\nmax-calls=0/10\n",
       "",
       "1: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|2: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|3: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|4: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|5: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|6: the machine's settings file may set max-calls only to N/SECONDS with N at most 5 and SECONDS at least "
       "10|"},
      {"[dial-service]\nphone snom\ncountry=49\nconfirm=maybe\n[dial-service\narea=5\x1B\nblock=\xC3\x28\n"
       "outside=0\n",
       "country=49@3;outside=0@8;",
       "2: neither key=value, a [section], a comment nor blank|5: neither key=value, a [section], a comment nor "
       "blank|6: the value holds a control character|7: not UTF-8 text|4: confirm takes yes or no|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string notes;
    auto note = [](void* context, unsigned line, const char* problem) {
      *static_cast<std::string*>(context) += std::to_string(line) + ": " + problem + "|";
    };
    SettingsFile file;
    ASSERT_TRUE(ReadSettingsTextLeniently(c.text.data(), c.text.size(), &file, note, &notes));
    KeepMachineSettings(&file, note, &notes);
    EXPECT_EQ(c.entries, Entries(file));
    EXPECT_EQ(c.notes, notes);
    FreeSettingsFile(&file);
  }
}

// Who may change the machine's file, as its owner and DACL say.
TEST(FileTrust, OnlyAdministratorsMayChangeIt) {
  const char* kAdmins = "S-1-5-32-544";
  const char* kSystem = "S-1-5-18";
  const char* kInstaller = "S-1-5-80-956008885-3425733324-1104396946-1414706236-1418498166";
  const char* kReader = "S-1-5-21-1-2-3-1001";
  const char* kEve = "S-1-5-21-1-2-3-1002";
  const char* kUsers = "S-1-5-32-545";
  const unsigned long kFull = 0x1F01FF, kRead = 0x1200A9, kModify = 0x1301BF;
  struct Case {
    const char* owner;
    bool hasAccessList;
    std::vector<AccessEntry> entries;
    bool folder;
    TrustVerdict verdict;
    size_t fault;
  };
  const Case cases[] = {
      {kAdmins, true, {{true, false, kFull, kSystem}, {true, false, kFull, kAdmins}, {true, false, kRead, kUsers}},
       false, kTrusted, 0},
      {kInstaller, true, {{true, false, kFull, kInstaller}, {true, false, kRead, "S-1-1-0"}}, true, kTrusted, 0},
      {kReader, true, {{true, false, kFull, kSystem}, {true, false, kFull, kReader}, {true, false, kRead, "S-1-1-0"}},
       false, kTrusted, 0},
      {kEve, true, {{true, false, kFull, kSystem}}, false, kOwnerNotTrusted, 0},
      {nullptr, true, {}, false, kOwnerNotTrusted, 0},
      {kSystem, false, {}, false, kNoAccessList, 0},
      {kAdmins, true, {{true, false, kFull, kAdmins}, {true, false, kModify, kUsers}}, false, kEntryAllowsChange, 1},
      {kAdmins, true, {{true, false, 0x2, "S-1-5-11"}}, true, kEntryAllowsChange, 0},     // add a file
      {kAdmins, true, {{true, false, 0x4, "S-1-5-4"}}, false, kEntryAllowsChange, 0},     // append
      {kAdmins, true, {{true, false, 0x40, kUsers}}, true, kEntryAllowsChange, 0},        // delete what it holds
      {kAdmins, true, {{true, false, 0x40, kUsers}}, false, kTrusted, 0},
      {kAdmins, true, {{true, false, 0x10000, kEve}}, false, kEntryAllowsChange, 0},      // delete
      {kAdmins, true, {{true, false, 0x40000, kEve}}, false, kEntryAllowsChange, 0},      // permissions
      {kAdmins, true, {{true, false, 0x80000, kEve}}, false, kEntryAllowsChange, 0},      // ownership
      {kAdmins, true, {{true, false, 0x40000000, "S-1-1-0"}}, false, kEntryAllowsChange, 0},
      {kAdmins, true, {{true, false, 0x10000000, "S-1-1-0"}}, false, kEntryAllowsChange, 0},
      {kAdmins, true, {{true, false, 0x100 | 0x10 | kRead, "S-1-1-0"}}, false, kTrusted, 0},  // attributes only
      {kAdmins, true, {{true, true, kFull, kUsers}, {true, false, kFull, "S-1-3-0"}}, true, kTrusted, 0},
      {kEve, true, {{true, false, kFull, "S-1-3-0"}}, true, kOwnerNotTrusted, 0},
      {kAdmins, true, {{false, false, kFull, kUsers}, {true, false, kModify, nullptr}}, false, kEntryAllowsChange, 1},
  };
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const Case& c = cases[i];
    SCOPED_TRACE(i);
    size_t fault = 99;
    EXPECT_EQ(c.verdict, JudgeAdministratorsOnly(c.owner, c.hasAccessList, c.entries.data(), c.entries.size(),
                                                 c.folder, kReader, &fault));
    if (c.verdict == kEntryAllowsChange) EXPECT_EQ(c.fault, fault);
  }
}

// The option parser's argument at fault leads back to the file line.
TEST(SettingsFile, AnOptionsProblemNamesItsLine) {
  struct Case {
    std::string user;
    unsigned line;  // 0: the command line or options together
    std::string problem;
  };
  const Case cases[] = {
      {"[dial-service]\ncountry=49\nport=x\n", 3, "--port x is not a number from 1 to 65535"},
      {"colour=red\n", 1, "unknown option --colour (--help lists them)"},
      {"phone=snom\n# ...\nphone-address=p\nphone-line=1\n", 4, "--phone snom does not use --phone-line"},
      {"phone=snom\nphone-address=p\nexec=x {number}\n", 0, "--phone and --exec exclude each other"},
      {"phone=asterisk\nphone-address=p\n", 1, "--phone asterisk needs --phone-endpoint (for example PJSIP/201)"},
      {"block=0900\nblock=09x\n", 2, "--block 09x may hold only digits, +, * and #"},
      {"max-calls=5/10\nmax-calls=0\n", 2, "--max-calls is given twice"},
      {"phone=snom\nphone-address=phone/1\n", 2,
       "the --phone-address phone/1 is not HOST[:PORT] (an IPv6 address in brackets)"},
      {"phone=baresip\nphone-address=p\nphone-https=yes\n", 3, "--phone baresip does not use --phone-https"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    SettingsFile user;
    char problem[kMaxOptionProblem];
    ASSERT_TRUE(ReadSettingsText(c.user.data(), c.user.size(), &user, problem, sizeof problem));
    const char16_t* argv[] = {u"dial-service", u"--verbose"};
    MergedOptions merged;
    ASSERT_TRUE(MergeOptionLayers(nullptr, nullptr, &user, u"B", 2, argv, &merged, problem, sizeof problem));
    static ServiceOptions options;
    int fault = -1;
    EXPECT_FALSE(ParseServiceOptions(merged.argc, merged.argv, &options, problem, &fault));
    EXPECT_EQ(c.problem, problem);
    ASSERT_TRUE(fault >= 0 && fault < merged.argc);
    EXPECT_EQ(c.line, merged.origins[fault].line);
    FreeMergedOptions(&merged);
    FreeSettingsFile(&user);
  }
}

TEST(SettingsFile, ChangedKeysReplaceTheirLines) {
  const char16_t* twoHeaders[] = {u"X-A: 1", u"X-B: 2"};
  const char16_t* snom[] = {u"snom"};
  const char16_t* protectedPassword[] = {u"AQID"};
  struct Case {
    std::string text;
    std::vector<SettingsChange> changes;
    std::string updated;
  };
  const Case cases[] = {
      {"", {{u"phone", snom, 1}}, "[dial-service]\r\nphone=snom\r\n"},
      {"; mine\n[other]\nphone=x\n", {{u"phone", snom, 1}}, "; mine\n[other]\nphone=x\n[dial-service]\nphone=snom\n"},
      {"\xEF\xBB\xBF[dial-service]\r\nphone=yealink\r\n# keep\r\nhttp-header=X-Z: 0\r\ncountry=49\r\n\r\n[x]\r\na=1\r\n",
       {{u"phone", snom, 1}, {u"http-header", twoHeaders, 2}},
       "\xEF\xBB\xBF[dial-service]\r\n# keep\r\ncountry=49\r\nphone=snom\r\nhttp-header=X-A: 1\r\n"
       "http-header=X-B: 2\r\n\r\n[x]\r\na=1\r\n"},
      {"[dial-service]\ncountry=49", {{u"http-password-protected", protectedPassword, 1}},
       "[dial-service]\ncountry=49\nhttp-password-protected=AQID\n"},
      {"[dial-service]\ncountry=49\r", {{u"country", nullptr, 0}}, "[dial-service]\n"},
      {"phone=x\n", {{u"phone", nullptr, 0}}, "[dial-service]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    size_t length = 0;
    char* updated = UpdateSettingsText(c.text.data(), c.text.size(), c.changes.data(), c.changes.size(), &length);
    ASSERT_TRUE(updated);
    EXPECT_EQ(c.updated, std::string(updated, length));
    free(updated);
  }
  const char16_t* broken[] = {u"a\nphone=evil"};
  const char16_t* tabbed[] = {u"X-A:\t1"};
  const SettingsChange refused[] = {{u"phone", broken, 1}, {u"http-header", tabbed, 1}, {u"Phone", snom, 1},
                                    {u"a=b", snom, 1}, {u"", snom, 1}};
  for (const SettingsChange& change : refused) {
    size_t length;
    EXPECT_EQ(nullptr, UpdateSettingsText("", 0, &change, 1, &length)) << Utf8(change.key);
  }
}

TEST(Base64, RoundTripsAndRefusesWhatIsNotBase64) {
  const std::string samples[] = {"", "f", "fo", "foo", "foob", std::string("\0\xFF\x10", 3)};
  const std::string encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "AP8Q"};
  for (size_t i = 0; i < 6; i++) {
    char text[16];
    const unsigned char* data = reinterpret_cast<const unsigned char*>(samples[i].data());
    ASSERT_EQ(encoded[i].size(), EncodeBase64(data, samples[i].size(), text, sizeof text));
    EXPECT_EQ(encoded[i], text);
    EXPECT_EQ(SIZE_MAX, EncodeBase64(data, samples[i].size(), text, encoded[i].size()));
    std::u16string wide(encoded[i].begin(), encoded[i].end());
    unsigned char bytes[8];
    size_t length = 99;
    ASSERT_TRUE(DecodeBase64(wide.c_str(), bytes, sizeof bytes, &length)) << encoded[i];
    EXPECT_EQ(samples[i], std::string(reinterpret_cast<char*>(bytes), length));
  }
  for (const char16_t* text : {u"Zg=", u"Z===", u"Zg=a", u"Zm9v YQ==", u"Zm9\u00e4", u"=Zm9"}) {
    unsigned char bytes[8];
    size_t length;
    EXPECT_FALSE(DecodeBase64(text, bytes, sizeof bytes, &length)) << Utf8(text);
  }
  unsigned char small[2];
  size_t length;
  EXPECT_FALSE(DecodeBase64(u"Zm9v", small, sizeof small, &length));
}
