// The crash reporter's settings, all in one table for both front ends (Qt
// on Linux, Win32 on Windows). Each row is one setting of the reporter with
// its value; rows that neither front end acts on stay in the table with
// `applies` false and a note saying why, and there is no code for them.
// Code reads a value with Flag/Number/Text below, which refuse (at compile
// time) a name that is not in the table or does not apply.
#pragma once

#include <string_view>

namespace tessaly::report {

struct SettingValue {
  enum class Kind { kFlag, kNumber, kText };
  Kind kind;
  bool flag = false;
  long number = 0;
  std::string_view text;

  constexpr SettingValue(bool value) : kind(Kind::kFlag), flag(value) {}         // NOLINT
  constexpr SettingValue(int value) : kind(Kind::kNumber), number(value) {}      // NOLINT
  constexpr SettingValue(const char* value) : kind(Kind::kText), text(value) {}  // NOLINT
};

struct Setting {
  std::string_view name;
  SettingValue value;
  bool applies;
  std::string_view note;
};

inline constexpr bool kApplies = true;
inline constexpr bool kNotHere = false;

// clang-format off
inline constexpr Setting kSettings[] = {
  {"Enabled",          true,  kApplies, "every exception that leaves an event handler goes to the reporter: through the application's notify() (Qt), through the window procedure (Windows)"},
  {"TitleBar",         "%appname%", kApplies, "the executable's file name with its extension"},
  {"ExceptMsg",        "An error occurred in the application.", kApplies, "shown above the exception's message"},
  {"SendBtnVis",       true,  kApplies, "\"send bug report\""},
  {"ShowBtnVis",       true,  kApplies, "\"show bug report\""},
  {"ContinueBtnVis",   true,  kApplies, "\"continue application\""},
  {"RestartBtnVis",    true,  kApplies, "\"restart application\""},
  {"CloseBtnVis",      true,  kApplies, "\"close application\""},
  {"SaveBtnVis",       false, kApplies, "no save button"},
  {"PrintBtnVis",      false, kApplies, "no print button"},
  {"AutoSave",         false, kApplies, "with this and the save button off, nothing asks for the bug report file: it is never written"},
  {"AutoSend",         false, kApplies, "a report is sent only by the button"},
  {"AutoClip",         false, kApplies, "the report is not put on the clipboard"},
  {"AutoContinue",     false, kApplies, "the dialog waits for the user"},
  {"AutoRestart",      0,     kApplies, "minutes until an automatic restart; 0: none"},
  {"AutoClose",        0,     kApplies, "minutes until an automatic close; 0: none"},
  {"CheckFreeze",      false, kApplies, "no watch for a main thread that stops answering"},
  {"MailViaMapi",      true,  kNotHere, "MAPI is a Windows mail interface; the Windows reporter does not use it either (not built: no MAPI mail client to test it against), it sends by mailto: alone"},
  {"MailViaMailto",    true,  kApplies, "\"send bug report\" opens the user's mail program with a mailto: URL (on Windows through ShellExecuteA)"},
  {"MailAsSmtpServer", false, kApplies, "the reporter sends no mail itself"},
  {"MailAsSmtpClient", false, kApplies, "the reporter sends no mail itself"},
  {"UploadViaHttp",    false, kApplies, "no upload"},
  {"SendInBackgr",     true,  kNotHere, "the mail program sends the mail; the reporter has no sending of its own to run in the background"},
  {"MailAddr",         "",    kApplies, "no fixed recipient: the user fills it in in the mail program"},
  {"MailSubj",         "bug report", kApplies, ""},
  {"MailBody",         "please find the bug report attached", kApplies, "the report text follows it in the body, as a mailto: URL carries no attachment"},
  {"BugRepFile",       "bugreport.txt", kApplies, "beside the executable"},
  {"AppendBugReps",    true,  kApplies, "new reports are added after the old ones"},
  {"BugRepFileSize",   100000, kApplies, "the file is kept at most this many bytes long by dropping the oldest reports"},
  {"NoDupExcepts",     true,  kApplies, "an exception of the same type, message and raising place as one already reported is shown as a plain message, without a new report"},
  {"NoDupFreezes",     true,  kNotHere, "no freeze check runs (CheckFreeze is off), so there are no freezes to compare"},
  {"ListThreads",      true,  kApplies, "the report lists the process's threads"},
  {"ShowDisAsm",       true,  kNotHere, "no disassembly of the raising code on either platform (not built)"},
  {"LimitDisAsm",      5,     kNotHere, "belongs to ShowDisAsm"},
  {"CpuRegs",          false, kApplies, "no register dump"},
  {"StackDump",        false, kApplies, "no raw stack dump"},
  {"Plugins",          "modules", kApplies, "the report lists the loaded modules"},
  {"SendAssis",        "",    kApplies, "no assistant runs before sending"},
  {"AttachBugRep",     false, kApplies, "nothing is attached"},
  {"AttachBugRepFile", false, kApplies, "nothing is attached"},
  {"AutoShowBugRep",   false, kApplies, "the report stays hidden until \"show bug report\""},
};
// clang-format on

namespace detail {

// Throwing makes a constant-expression call with a bad name fail to compile.
constexpr const SettingValue& Lookup(std::string_view name, SettingValue::Kind kind) {
  for (const Setting& setting : kSettings) {
    if (setting.name != name) continue;
    if (!setting.applies) throw "the reporter setting does not apply on this platform";
    if (setting.value.kind != kind) throw "the reporter setting has another kind";
    return setting.value;
  }
  throw "no such reporter setting";
}

}  // namespace detail

constexpr bool Flag(std::string_view name) {
  return detail::Lookup(name, SettingValue::Kind::kFlag).flag;
}
constexpr long Number(std::string_view name) {
  return detail::Lookup(name, SettingValue::Kind::kNumber).number;
}
constexpr std::string_view Text(std::string_view name) {
  return detail::Lookup(name, SettingValue::Kind::kText).text;
}

}  // namespace tessaly::report
