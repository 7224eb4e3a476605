// The phone presets: each kind's request as the option parser hands it to the
// HTTP sink, the refusals of missing or foreign parts, and what --show-request
// prints for it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/sinks/call_handle.h"
#include "service/sinks/phone_presets.h"
#include "service/sinks/request_preview.h"

namespace {
std::string Narrow(const char16_t* text) {
  std::string narrow;
  for (; text && *text; text++) narrow += *text < 0x80 ? char(*text) : '?';
  return narrow;
}

const char kFritzboxBody[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?><s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
    "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body><u:X_AVM-DE_DialNumber "
    "xmlns:u=\"urn:dslforum-org:service:X_VoIP:1\"><NewX_AVM-DE_PhoneNumber>{number}</NewX_AVM-DE_PhoneNumber>"
    "</u:X_AVM-DE_DialNumber></s:Body></s:Envelope>";
}  // namespace

TEST(PhonePresets, EachKindBuildsItsRequest) {
  struct Case {
    PhoneOptions phone;
    const char16_t* user;
    const char16_t* password;
    const char* problem;  // "" when expanded
    const char* url;
    bool post;
    const char* body;
    const char* headers;  // each followed by "|"
    const char* expandedUser;
  };
  const Case cases[] = {
      {{kPhoneYealink, u"192.0.2.5"}, u"admin", u"pw", "", "http://192.0.2.5/servlet?key=number={number}", false, "", "",
       "admin"},
      {{kPhoneYealink, u"192.0.2.5:8080", true, nullptr, u"sip:201@pbx.example.com"}, nullptr, nullptr, "",
       "https://192.0.2.5:8080/servlet?key=number={number}&outgoing_uri=sip%3A201%40pbx.example.com", false, "", "", ""},
      {{kPhoneSnom, u"[2001:db8::5]", false, nullptr, u"\u00e4"}, nullptr, nullptr, "",
       "http://[2001:db8::5]/command.htm?number={number}&outgoing_uri=%C3%A4", false, "", "", ""},
      {{kPhoneGrandstream, u"gxp.example"}, nullptr, u"pw", "",
       "http://gxp.example/cgi-bin/api-make_call?passcode={password}&phonenumber={number}", false, "", "", ""},
      {{kPhoneGrandstream, u"gxp.example", true, u"2"}, nullptr, u"pw", "",
       "https://gxp.example/cgi-bin/api-make_call?passcode={password}&phonenumber={number}&account=1", false, "", "",
       ""},
      {{kPhonePoly, u"10.0.0.7"}, nullptr, u"pw", "", "https://10.0.0.7/api/v1/callctrl/dial", true,
       "{\"data\":{\"Dest\":\"{number}\",\"Line\":\"1\",\"Type\":\"TEL\"}}", "Content-Type: application/json|",
       "Polycom"},
      {{kPhonePoly, u"10.0.0.7:8443", false, u"3"}, u"ops", u"pw", "", "https://10.0.0.7:8443/api/v1/callctrl/dial",
       true, "{\"data\":{\"Dest\":\"{number}\",\"Line\":\"3\",\"Type\":\"TEL\"}}", "Content-Type: application/json|",
       "ops"},
      {{kPhoneFritzbox, u"fritz.box"}, u"admin", u"pw", "", "http://fritz.box:49000/upnp/control/x_voip", true,
       kFritzboxBody,
       "Content-Type: text/xml; charset=\"utf-8\"|SOAPAction: urn:dslforum-org:service:X_VoIP:1#X_AVM-DE_DialNumber|",
       "admin"},
      {{kPhoneFritzbox, u"fritz.box", true}, u"admin", u"pw", "", "https://fritz.box:49443/upnp/control/x_voip", true,
       kFritzboxBody,
       "Content-Type: text/xml; charset=\"utf-8\"|SOAPAction: urn:dslforum-org:service:X_VoIP:1#X_AVM-DE_DialNumber|",
       "admin"},
      {{kPhoneAsterisk, u"pbx", false, nullptr, nullptr, u"PJSIP/201"}, u"ari", u"pw", "",
       "http://pbx:8088/ari/channels?endpoint=PJSIP%2F201&extension={number}&context=from-internal&priority=1"
       "&channelId={call}",
       true,
       "", "", "ari"},
      {{kPhoneAsterisk, u"pbx:9000", true, nullptr, nullptr, u"SIP/a b", u"office calls"}, u"ari", u"pw", "",
       "https://pbx:9000/ari/channels?endpoint=SIP%2Fa%20b&extension={number}&context=office%20calls&priority=1"
       "&channelId={call}",
       true, "", "", "ari"},
      {{kPhoneBaresip, u"127.0.0.1"}, nullptr, nullptr, "", "http://127.0.0.1:8000/?d{number}", false, "", "", ""},

      {{kPhoneNone, u"x"}, nullptr, nullptr,
       "--phone needs one of yealink, snom, grandstream, poly, fritzbox, asterisk, baresip"},
      {{kPhoneSnom}, nullptr, nullptr, "--phone snom needs --phone-address (the phone's HOST[:PORT])"},
      {{kPhoneAsterisk, u"pbx"}, u"ari", u"pw", "--phone asterisk needs --phone-endpoint (for example PJSIP/201)"},
      {{kPhoneSnom, u"p", false, u"1"}, nullptr, nullptr, "--phone snom does not use --phone-line"},
      {{kPhoneFritzbox, u"p", false, nullptr, u"a"}, u"u", u"p", "--phone fritzbox does not use --phone-account"},
      {{kPhoneYealink, u"p", false, nullptr, nullptr, u"PJSIP/1"}, nullptr, nullptr,
       "--phone yealink does not use --phone-endpoint"},
      {{kPhoneBaresip, u"p", true}, nullptr, nullptr, "--phone baresip does not use --phone-https"},
      {{kPhonePoly, u"p", false, u"0"}, nullptr, u"pw", "--phone-line 0 is not a number from 1 to 99"},
      {{kPhoneGrandstream, u"p", false, u"100"}, nullptr, u"pw", "--phone-line 100 is not a number from 1 to 99"},
      {{kPhoneFritzbox, u"fritz.box"}, u"admin", nullptr,
       "--phone fritzbox needs a password: --http-password-env VARIABLE, or one stored with dial-service.exe "
       "--store-password"},
      {{kPhonePoly, u"p"}, nullptr, nullptr,
       "--phone poly needs a password: --http-password-env VARIABLE, or one stored with dial-service.exe "
       "--store-password"},
      {{kPhoneSnom, u"10.0.0.5/x"}, nullptr, nullptr,
       "the --phone-address 10.0.0.5/x is not HOST[:PORT] (an IPv6 address in brackets)"},
      {{kPhoneSnom, u"2001:db8::5"}, nullptr, nullptr,
       "the --phone-address 2001:db8::5 is not HOST[:PORT] (an IPv6 address in brackets)"},
      {{kPhoneSnom, u"p:70000"}, nullptr, nullptr,
       "the --phone-address p:70000 has a port that is not a number from 1 to 65535"},
      {{kPhoneSnom, u"admin@p"}, nullptr, nullptr,
       "the --phone-address admin@p holds a user name; give it with --http-user"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(PhoneKindName(c.phone.kind)) + " " + Narrow(c.phone.address) + " " + c.problem);
    HttpOptions http = {};
    http.user = c.user;
    http.password = c.password;
    http.headers[0] = u"X-Given: 1";
    http.headerCount = 1;
    static PresetTexts texts;
    char problem[256] = "";
    bool expanded = ExpandPhonePreset(c.phone, &http, &texts, problem, sizeof problem);
    EXPECT_EQ(c.problem, std::string(problem));
    ASSERT_EQ(!*c.problem, expanded);
    if (!expanded) continue;
    EXPECT_EQ(c.url, Narrow(http.url));
    EXPECT_EQ(UrlError(kUrlParsed), ParseUrlTemplate(http.url, &http.target));
    EXPECT_EQ(c.post, http.post);
    EXPECT_EQ(c.body, Narrow(http.body));
    std::string headers;
    for (size_t i = 0; i < http.headerCount; i++) headers += Narrow(http.headers[i]) + "|";
    EXPECT_EQ(std::string(c.headers) + "X-Given: 1|", headers);
    EXPECT_EQ(c.expandedUser, Narrow(http.user));
    EXPECT_EQ(int(c.phone.kind), http.phoneKind);  // the request's failure hints go by it
  }
}

TEST(PhonePresets, NamesAndFieldsComeFromOneTable) {
  for (int kind = kPhoneYealink; kind <= kPhoneBaresip; kind++) {
    const char* name = PhoneKindName(PhoneKind(kind));
    std::u16string wide(name, name + strlen(name));
    EXPECT_EQ(kind, PhoneKindOfName(wide.c_str())) << name;
  }
  EXPECT_EQ(kPhoneSnom, PhoneKindOfName(u"Snom")) << "people write the makers' names";
  EXPECT_EQ(kPhoneFritzbox, PhoneKindOfName(u"FRITZBOX"));
  EXPECT_EQ(kPhoneNone, PhoneKindOfName(u"Snomx"));
  EXPECT_EQ(kPhoneNone, PhoneKindOfName(u""));
  EXPECT_EQ(unsigned(kPhoneFieldEndpoint | kPhoneFieldContext), PhoneFieldsOfKind(kPhoneAsterisk));
  EXPECT_EQ(unsigned(kPhoneFieldLine), PhoneFieldsOfKind(kPhonePoly));
  EXPECT_EQ(0u, PhoneFieldsOfKind(kPhoneBaresip));
  EXPECT_STREQ("Click to Dial is off in the router, or no phone is chosen for it",
               PresetFailureHint(kPhoneFritzbox, 500));
  EXPECT_EQ(nullptr, PresetFailureHint(kPhoneFritzbox, 401));
  EXPECT_EQ(nullptr, PresetFailureHint(kPhoneSnom, 500));
}

// A header's value may be a token: shown only with --show-secrets, while the
// preset's own headers always are.
TEST(RequestPreview, ShowsTheRequestWithoutThePasswordNorHeaderValues) {
  struct Case {
    PhoneOptions phone;
    const char16_t* user;
    const char16_t* password;
    const char16_t* variable;
    bool showSecrets;
    const char* preview;
  };
  const Case cases[] = {
      {{kPhoneGrandstream, u"10.0.0.9", false, u"1"}, nullptr, u"s3cret", nullptr, false,
       "GET http://10.0.0.9:80/cgi-bin/api-make_call?passcode=***&phonenumber=%2B4955501230&account=0\n"
       "Authorization: ***\n"
       "credentials: the password in the request, *** (from --http-password)\n"},
      {{kPhonePoly, u"[::1]"}, nullptr, nullptr, u"POLY_PW", false,
       "POST https://[::1]:443/api/v1/callctrl/dial\n"
       "Content-Type: application/json\n"
       "Authorization: ***\n"
       "credentials: user Polycom, password *** (from the environment variable POLY_PW), Basic or Digest as the "
       "server asks\n"
       "\n"
       "{\"data\":{\"Dest\":\"+4955501230\",\"Line\":\"1\",\"Type\":\"TEL\"}}\n"},
      {{kPhoneBaresip, u"127.0.0.1"}, nullptr, nullptr, nullptr, true,
       "GET http://127.0.0.1:8000/?d%2B4955501230\nAuthorization: Bearer t0ken\ncredentials: none\n"},
      {{kPhoneGrandstream, u"10.0.0.9", false, u"1"}, nullptr, u"s3cret", nullptr, true,
       "GET http://10.0.0.9:80/cgi-bin/api-make_call?passcode=***&phonenumber=%2B4955501230&account=0\n"
       "Authorization: Bearer t0ken\n"
       "credentials: the password in the request, *** (from --http-password)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(PhoneKindName(c.phone.kind));
    HttpOptions http = {};
    http.user = c.user;
    http.password = c.password;
    http.passwordVariable = c.variable;
    http.headers[0] = u"Authorization: Bearer t0ken";
    http.headerCount = 1;
    static PresetTexts texts;
    char problem[256] = "";
    ASSERT_TRUE(ExpandPhonePreset(c.phone, &http, &texts, problem, sizeof problem)) << problem;
    char preview[1024];
    size_t length = FormatHttpRequestPreview(http, "+4955501230", c.showSecrets, preview, sizeof preview);
    EXPECT_EQ(c.preview, std::string(preview));
    EXPECT_EQ(strlen(c.preview), length);
    EXPECT_EQ(std::string::npos, std::string(preview).find("s3cret"));
    EXPECT_EQ(c.showSecrets, std::string(preview).find("t0ken") != std::string::npos);
    char tooSmall[16];
    EXPECT_EQ(SIZE_MAX, FormatHttpRequestPreview(http, "+4955501230", c.showSecrets, tooSmall, sizeof tooSmall));
    EXPECT_EQ(std::string(c.preview, 15), tooSmall);
  }
}

// What Poly's call status answer may hold: the first call's handle, none, or
// something that is not to be put into the end-call request.
TEST(CallHandle, TheFirstCallsHandleOrWhyNone) {
  struct Case {
    std::string answer;
    CallHandleResult result;
    const char* handle;
  };
  const Case cases[] = {
      {"{\"data\":{\"Ringing\":\"0\",\"CallHandle\":\"0x1c2d3e4f\",\"Muted\":false},\"Status\":\"2000\"}",
       kCallHandleFound, "0x1c2d3e4f"},
      {" { \"Status\" : \"2000\" , \"data\" : [ { \"Ref\" : \"12\" } , { \"Ref\" : \"13\" } ] } \r\n", kCallHandleFound,
       "12"},
      {"{\"data\":{\"x\":[1,{\"CallHandle\":\"inner\"}],\"CallHandle\":\"outer\"}}", kCallHandleFound, "outer"},
      {"{\"data\":{},\"Status\":\"2000\"}", kNoCallHandle, ""},
      {"{\"data\":[],\"Status\":\"2000\"}", kNoCallHandle, ""},
      {"{\"Status\":\"4007\",\"CallHandle\":\"0x1\"}", kNoCallHandle, ""},
      {"{\"data\":null}", kNoCallHandle, ""},
      {"{\"data\":{\"CallHandle\":\"a\\\"b\"}}", kCallStatusUnreadable, ""},
      {"{\"data\":{\"CallHandle\":\"{password}\"}}", kCallStatusUnreadable, ""},
      {"{\"data\":{\"CallHandle\":\"" + std::string(65, 'a') + "\"}}", kCallStatusUnreadable, ""},
      {"{\"data\":{\"CallHandle\":\"0x1\"}", kCallStatusUnreadable, ""},
      {"{\"data\":{\"CallHandle\":\"0x1\"}} trailing", kCallStatusUnreadable, ""},
      {std::string(40, '[') + std::string(40, ']'), kCallStatusUnreadable, ""},
      {"dialling\n", kCallStatusUnreadable, ""},
      {"", kCallStatusUnreadable, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    char handle[kMaxCallHandle + 1] = "";
    // The answer without a 0 after it, as it sits in the receive buffer.
    std::vector<char> bytes(c.answer.begin(), c.answer.end());
    EXPECT_EQ(c.result, ReadCallHandle(bytes.data(), bytes.size(), handle));
    if (c.result == kCallHandleFound) EXPECT_STREQ(c.handle, handle);
  }
}
