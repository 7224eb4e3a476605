// {user} and {computer}: filled with the desk's names where the options take
// them, refused with a reason where a name would take the request elsewhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/settings/desk_names.h"
#include "service/settings/service_options.h"

namespace {
std::string Narrow(const char16_t* text) {
  std::string narrow;
  for (; text && *text; text++) narrow += *text < 0x80 ? char(*text) : '?';
  return narrow;
}

DeskNames Names(const char16_t* user, const char16_t* computer) {
  DeskNames names = {};
  std::u16string(user).copy(names.user, kMaxDeskName - 1);
  std::u16string(computer).copy(names.computer, kMaxDeskName - 1);
  return names;
}
}  // namespace

TEST(DeskNames, FieldsAreFilledOrRefused) {
  struct Case {
    const char16_t* value;
    const char16_t* user;
    const char16_t* computer;
    bool inHostName;
    size_t size;
    DeskNameError error;
    const char* filled;  // or the field at fault
  };
  const Case cases[] = {
      {u"phone-{user}.example.com", u"eve", u"DESK-7", true, 64, kDeskNamesFilled, "phone-eve.example.com"},
      {u"{Computer}-{USER}:8080", u"eve", u"DESK-7", true, 64, kDeskNamesFilled, "DESK-7-eve:8080"},
      {u"sip:{user}@{computer}.example.com", u"j.smith", u"desk", false, 64, kDeskNamesFilled,
       "sip:j.smith@desk.example.com"},
      {u"{user}", u"J\u00fcrgen M", u"", false, 64, kDeskNamesFilled, "J?rgen M"},
      {u"{usr}.{user", u"eve", u"desk", true, 64, kDeskNamesFilled, "{usr}.{user"},
      {u"phone-{user}.example.com", u"j.smith", u"desk", true, 64, kDeskNameNotInHost, "{user}"},
      {u"phone-{user}", u"J Smith", u"desk", true, 64, kDeskNameNotInHost, "{user}"},
      {u"phone-{user}", u"J\u00fcrgen", u"desk", true, 64, kDeskNameNotInHost, "{user}"},
      {u"{user}:{computer}", u"eve", u"desk_7", true, 64, kDeskNameNotInHost, "{computer}"},
      {u"{computer}.example.com", u"eve", u"", true, 64, kDeskNameUnknown, "{computer}"},
      {u"p-{user}", u"eve", u"desk", true, 5, kDeskNamesTooLong, ""},
      {u"p-{user}", u"eve", u"desk", true, 6, kDeskNamesFilled, "p-eve"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.value) + " " + Narrow(c.user));
    char16_t out[64];
    const char* field = "";
    DeskNameError error = FillDeskNames(c.value, Names(c.user, c.computer), c.inHostName, out, c.size, &field);
    EXPECT_EQ(c.error, error);
    if (error == kDeskNamesFilled) EXPECT_EQ(c.filled, Narrow(out));
    if (error == kDeskNameNotInHost || error == kDeskNameUnknown) EXPECT_STREQ(c.filled, field);
  }
}

// Through the option parser: the request built from the filled values, and a
// refusal that names the option holding the field.
TEST(DeskNames, TheOptionsThatTakeThemAreFilled) {
  struct Case {
    std::vector<const char16_t*> arguments;
    const char16_t* user;
    std::string url;  // or the problem
    std::string httpUser;
    int fault;
  };
  const Case cases[] = {
      {{u"--phone", u"snom", u"--phone-address", u"phone-{user}.example.com"}, u"eve",
       "http://phone-eve.example.com/command.htm?number={number}", "", 0},
      {{u"--phone", u"yealink", u"--phone-address", u"{computer}:8080", u"--phone-account", u"sip:{user}@pbx"},
       u"eve", "http://desk-7:8080/servlet?key=number={number}&outgoing_uri=sip%3Aeve%40pbx", "", 0},
      {{u"--phone", u"asterisk", u"--phone-address", u"pbx", u"--phone-endpoint", u"PJSIP/{user}", u"--http-user",
        u"{user}", u"--http-password-env", u"P"},
       u"eve",
       "http://pbx:8088/ari/channels?endpoint=PJSIP%2Feve&extension={number}&context=from-internal&priority=1"
       "&channelId={call}",
       "eve", 0},
      {{u"--verbose", u"--phone", u"snom", u"--phone-address", u"phone-{user}.example.com"}, u"j.smith",
       "--phone-address phone-{user}.example.com: the user's name \"j.smith\" cannot be part of a host name (only "
       "letters A to Z, digits and hyphens)",
       "", 4},
      {{u"--phone", u"snom", u"--phone-address", u"p", u"--http-user", u"{user}", u"--http-password-env", u"P"}, u"",
       "--http-user {user}: the user's name is not known here, so {user} cannot be filled in", "", 5},
      {{u"--phone", u"snom", u"--phone-address", u"phone/{user}"}, u"eve",
       "the --phone-address phone/eve is not HOST[:PORT] (an IPv6 address in brackets)", "", 3},
  };
  const DeskNames* none = nullptr;
  for (const Case& c : cases) {
    std::vector<const char16_t*> argv = {u"dial-service"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    SCOPED_TRACE(c.url);
    static ServiceOptions options;
    DeskNames names = Names(c.user, u"desk-7");
    char problem[kMaxOptionProblem] = "";
    int fault = -1;
    bool accepted = ParseServiceOptions(int(argv.size()), argv.data(), &options, problem, &fault, &names);
    EXPECT_EQ(c.fault, fault);
    if (!accepted) {
      EXPECT_EQ(c.url, problem);
      continue;
    }
    EXPECT_EQ(c.url, Narrow(options.sink.http.url));
    EXPECT_EQ(c.httpUser, Narrow(options.sink.http.user));
    // Without the names a field is refused rather than sent as it is written.
    EXPECT_FALSE(ParseServiceOptions(int(argv.size()), argv.data(), &options, problem, &fault, none));
  }
}
