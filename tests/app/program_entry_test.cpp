// The real teldial.exe, started with exact raw command lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "processes_win.h"

namespace {
const DWORD kBoxTimeout = 15000;

std::wstring UsageText(const std::wstring& name) {
  return L"\nUsage: " + name + L" phonenumber\n\nExamples: \n\n" + name + L" 0555501230\n" + name +
         L" \"+49 5555 0123-0\"";
}

// Starts the program, expects the usage box, checks it, presses OK, returns the exit code.
long RunExpectingUsage(const std::wstring& program, const std::wstring& commandLine, const std::wstring& name) {
  ProgramRun run;
  if (!StartProgram(program, commandLine, &run)) {
    ADD_FAILURE() << "could not start " << std::string(program.begin(), program.end());
    return -1;
  }
  HWND box = FindMessageBox(run.processId, kBoxTimeout);
  EXPECT_NE(nullptr, box) << "no message box";
  if (box) {
    EXPECT_EQ(L"Usage", WindowText(box));
    EXPECT_EQ(UsageText(name), MessageBoxText(box));
    PressOk(box);
  }
  return WaitForExit(&run, kBoxTimeout);
}
}  // namespace

TEST(Usage, ShownForAnyCountButOne) {
  const std::wstring program = TeldialPath();
  const std::wstring quoted = L"\"" + program + L"\"";
  const std::wstring lines[] = {
      quoted,
      quoted + L"   ",
      quoted + L" a b",
      quoted + L" +49 5555 0123-0",
      quoted + L" \"\"\"\"",  // only quotes: two empty arguments
  };
  for (const std::wstring& line : lines) {
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    EXPECT_EQ(0, RunExpectingUsage(program, line, L"teldial"));
  }
}

TEST(Usage, NamedAfterTheExecutableFile) {
  struct Case {
    const wchar_t* file;
    const wchar_t* name;
  };
  const Case cases[] = {{L"example.exe", L"example"}, {L"my.dialer.exe", L"my.dialer"}, {L"nodot", L"nodot"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
    std::wstring copy = CopyOfTeldial(c.file);
    EXPECT_EQ(0, RunExpectingUsage(copy, L"\"" + copy + L"\"", c.name));
  }
}

TEST(Dialing, OneArgumentShowsNoBoxAndExitsZero) {
  // Each run searches all 20 ports (about 4 s), so the runs go side by side.
  const std::wstring program = TeldialPath();
  const std::wstring quoted = L"\"" + program + L"\"";
  std::vector<std::wstring> lines = {
      quoted + L" 0555501230",
      quoted + L" \"+49 5555 0123-0\"",
      quoted + L" " + std::wstring(32000 - quoted.size() - 8, L'5'),
      quoted + L" \xD800x\xDC00\xDFFF",
      quoted + L" \"\"",
  };
  std::vector<ProgramRun> runs(lines.size());
  for (size_t i = 0; i < lines.size(); i++) ASSERT_TRUE(StartProgram(program, lines[i], &runs[i]));
  for (size_t i = 0; i < lines.size(); i++) {
    SCOPED_TRACE(i);
    EXPECT_EQ(nullptr, FindMessageBox(runs[i].processId, i == 0 ? 1500 : 0));
    EXPECT_EQ(0, WaitForExit(&runs[i], 30000));
  }
}
