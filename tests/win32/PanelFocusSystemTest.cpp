// Where the control panel's keyboard focus is, read from outside as assistive tools read it
// (GetGUIThreadInfo on the panel's GUI thread): in the delay field while it is edited, with the
// main window itself after OK and Cancel, and in the delay field again when the window is
// activated again, after being minimised too. The activation changes are real ones between the
// panel's window and a top-level window of this test process: each is given the foreground in
// turn (Wine lets any process do that; Windows refuses it to a process in the background), or
// the panel's window is activated by a mouse click. Keys are typed with SendInput, so they go
// wherever the system sends the keyboard's input.
//
// Under Wine's virtual desktop the X server reports every pointer move back late, through the
// desktop's process, so a click soon after a move can land where the pointer was before (seen
// here with clicks alternating between two windows). The mouse pointer is therefore moved once,
// onto the panel, and only the panel's window is activated by clicks.
#include "PanelDriver.h"
#include "PanelRun.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace testing_support;
using namespace panel_driver;

namespace {

// Id 5, version 1.2.3.4, mode 1, channel 3, indicator on, 2.5 ms.
const TSelector kFive{5, 0x01020304, 1, 0x04, 1, 25};

std::string Script(const std::vector<TSelector>& selectors) {
  return "init 997 now 0\nstate " + PacketHex(selectors) + "\npoll 997 after:40 state\ntable 997 thread state\n";
}

// What the GUI thread of `window`'s process has: focus, active window, capture.
GUITHREADINFO GuiThreadOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  if (!::GetGUIThreadInfo(::GetWindowThreadProcessId(window, nullptr), &info))
    ADD_FAILURE() << "GetGUIThreadInfo failed: " << ::GetLastError();
  return info;
}

// The window holding the keyboard focus on that thread; null when none does.
HWND FocusOf(HWND window) { return GuiThreadOf(window).hwndFocus; }

std::string Describe(HWND focus, HWND main, HWND edit) {
  if (focus == nullptr) return "no window";
  if (focus == main) return "the main window";
  if (focus == edit) return "the delay field";
  wchar_t name[64] = {};
  ::GetClassNameW(focus, name, 64);
  return "a window of class " + Narrow(name);
}

// A top-level window of this test process beside the panel's window (covering none of it), to
// take the activation from it. Its messages are pumped by WaitFor.
class TOtherWindow {
public:
  explicit TOtherWindow(HWND panelWindow) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = ::GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = L"TQ417FocusTestOther";
    ::RegisterClassExW(&wc); // fails harmlessly the second time
    RECT panel{};
    ::GetWindowRect(panelWindow, &panel);
    const int width = 300, height = 200;
    const bool right = panel.right + 40 + width <= ::GetSystemMetrics(SM_CXSCREEN);
    const int x = right ? int(panel.right) + 40 : 20, y = right ? int(panel.top) : int(panel.bottom) + 40;
    fWindow.Reset(::CreateWindowExW(0, wc.lpszClassName, L"Another program", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, y,
                                    width, height, nullptr, nullptr, wc.hInstance, nullptr));
  }
  HWND Handle() const { return fWindow.Get(); }

private:
  win32::TWindow fWindow;
};

// Puts the mouse pointer at a point of `window`'s client area and waits until it is there.
bool MovePointer(HWND window, POINT client) {
  ::ClientToScreen(window, &client);
  ::SetCursorPos(client.x, client.y);
  return WaitFor([&] {
    POINT at{};
    return ::GetCursorPos(&at) && at.x == client.x && at.y == client.y;
  }, 10000);
}

// A left click with the mouse wherever the pointer is.
void ClickWithMouse() {
  INPUT input[2] = {};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  ::SendInput(2, input, sizeof(INPUT));
}

void TypeKeys(const std::vector<WORD>& virtualKeys) {
  for (const WORD key : virtualKeys) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ::SendInput(2, input, sizeof(INPUT));
  }
}

enum class TActivation { Foreground, MouseClick };

// Makes `top` the foreground window: given the foreground, or clicked where the pointer is.
bool Activate(HWND top, TActivation how = TActivation::Foreground) {
  if (how == TActivation::Foreground) ::SetForegroundWindow(top);
  else ClickWithMouse();
  return WaitFor([&] { return ::GetForegroundWindow() == top; }, 10000);
}

// The panel's header strip, in its client coordinates: a click there only activates.
POINT Header(HWND panel) {
  const double scale = Scale(panel);
  return {LONG(Background().x * scale), LONG(Background().y * scale)};
}

bool Editing(HWND panel) {
  TPanelState state;
  return QueryState(panel, state) && state.Editing;
}

// Clicks the delay field (posted, as TypeIntoDelay does) and waits until the click is through:
// the field has the focus and holds the mouse capture no more, which would take a real click
// meant for another window.
bool ClickDelayField(HWND panel) {
  TypeIntoDelay(panel, L"");
  return WaitFor([&] {
    const GUITHREADINFO info = GuiThreadOf(panel);
    return info.hwndFocus == DelayEdit(panel) && info.hwndCapture == nullptr;
  }, 10000);
}

HWND WaitPanel(const TPanelRun& run, const wchar_t* name) {
  HWND panel = nullptr;
  WaitFor([&] { return (panel = DevicePanel(run.Main(), name)) != nullptr; }, 10000);
  return panel;
}

} // namespace

#define EXPECT_FOCUS(main, edit, expected)                                                                     \
  EXPECT_TRUE(WaitFor([&] { return FocusOf(main) == (expected); }, 10000))                                     \
      << "the focus is with " << Describe(FocusOf(main), main, edit) << ", not with "                          \
      << Describe(expected, main, edit)

class PanelFocusSystem : public ::testing::Test {
protected:
  // Starts the panel with the script, finds the named device panel, puts a window of this
  // process beside the panel's window and activates the panel's window.
  void Start(const std::string& script, const wchar_t* panelName) {
    run = std::make_unique<TPanelRun>(script);
    ASSERT_TRUE(run->Ready());
    ASSERT_NE(device = WaitPanel(*run, panelName), nullptr);
    main = run->Main();
    edit = DelayEdit(device);
    other = std::make_unique<TOtherWindow>(main);
    ASSERT_NE(other->Handle(), nullptr);
    ASSERT_TRUE(Activate(main));
  }

  std::unique_ptr<TPanelRun> run;
  std::unique_ptr<TOtherWindow> other;
  HWND device = nullptr, main = nullptr, edit = nullptr; // the panel, its window, its delay field
};

TEST_F(PanelFocusSystem, TheFieldHoldsTheFocusWhileEditedAndOkOrCancelLeaveItWithTheWindow) {
  ASSERT_NO_FATAL_FAILURE(Start(Script({kFive}), L"FDeviceFrame5"));
  TPanelRun& panel = *run;
  const HWND five = device;

  const struct {
    const char* button;
    HWND handle;
    std::wstring typed;
    bool sends;
  } rows[] = {{"OK", OkButton(five), L"3", true}, {"Cancel", CancelButton(five), L"9", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.button);
    TypeIntoDelay(five, row.typed);
    EXPECT_FOCUS(main, edit, edit);
    EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == row.typed; }, 5000)) << Narrow(WindowText(edit));
    EXPECT_TRUE(Editing(five));
    ::PostMessageW(row.handle, BM_CLICK, 0, 0);
    EXPECT_FOCUS(main, edit, main);
    EXPECT_TRUE(WaitFor([&] { return !Editing(five); }, 5000));
    EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == L"3"; }, 5000)) << Narrow(WindowText(edit));
    if (row.sends) {
      EXPECT_EQ(panel.WaitTable(0), PacketHex({{5, 0, 1, 0x04, 1, 30}}, true));
      ASSERT_TRUE(panel.WaitAnswerApplied());
    }
  }
  // With the focus on the window, a typed digit reaches its key handling: the selected panel's
  // channel.
  TypeKeys({'6'});
  EXPECT_EQ(panel.WaitTable(1), PacketHex({{5, 0, 1, 0x20, 1, 30}}, true));
  EXPECT_EQ(panel.Tables().size(), 2u) << "Cancel sent nothing";
}

TEST_F(PanelFocusSystem, TheFieldGetsTheFocusBackWhenTheWindowIsActivatedAgain) {
  ASSERT_NO_FATAL_FAILURE(Start(Script({kFive}), L"FDeviceFrame5"));
  TPanelRun& panel = *run;
  const HWND five = device;
  const std::wstring sep(1, DecimalSeparator());

  const struct {
    const char* what;
    TActivation how;
    std::wstring shown, afterTyping; // the field's text before and after End and a digit
    WORD digit;
    uint16_t stored;
  } rows[] = {
      {"the foreground given to each window", TActivation::Foreground, L"2" + sep + L"5", L"2" + sep + L"57", '7', 26},
      {"the panel's window clicked to activate it", TActivation::MouseClick, L"2" + sep + L"6", L"2" + sep + L"69", '9', 27},
  };
  size_t tables = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(WaitFor([&] { return WindowText(edit) == row.shown; }, 5000)) << Narrow(WindowText(edit));
    if (row.how == TActivation::MouseClick) {
      ASSERT_TRUE(MovePointer(five, Header(five)));
    }
    ASSERT_TRUE(ClickDelayField(five)) << "the focus is with " << Describe(FocusOf(main), main, edit);

    ASSERT_TRUE(Activate(other->Handle()));
    EXPECT_TRUE(WaitFor([&] { return FocusOf(main) != edit; }, 10000)) << "the panel's thread keeps the focus";
    EXPECT_TRUE(Editing(five)) << "editing goes on while another window is active";

    ASSERT_TRUE(Activate(main, row.how));
    EXPECT_FOCUS(main, edit, edit);
    TypeKeys({VK_END, row.digit});
    EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == row.afterTyping; }, 5000)) << Narrow(WindowText(edit));

    // The digit went into the field only: the one table OK sends has the channel unchanged.
    ::PostMessageW(OkButton(five), BM_CLICK, 0, 0);
    EXPECT_EQ(panel.WaitTable(tables), PacketHex({{5, 0, 1, 0x04, 1, row.stored}}, true));
    ASSERT_TRUE(panel.WaitAnswerApplied());
    ++tables;
    EXPECT_EQ(panel.Tables().size(), tables);
    EXPECT_FOCUS(main, edit, main);

    // The window itself had the focus when it was deactivated this time: it keeps it.
    ASSERT_TRUE(Activate(other->Handle()));
    ASSERT_TRUE(WaitFor([&] { return FocusOf(main) != main; }, 10000));
    ASSERT_TRUE(Activate(main, row.how));
    EXPECT_FOCUS(main, edit, main);
    EXPECT_FALSE(Editing(five));
  }
}

// Minimised through the system menu's commands, as the caption's buttons do. Wine keeps a
// window that is minimised while active the active one, and activates a window again when it
// restores it; that second activation is what gives the field its focus back here.
TEST_F(PanelFocusSystem, AMinimisedWindowGivesTheFieldTheFocusBackWhenRestored) {
  ASSERT_NO_FATAL_FAILURE(Start(Script({kFive}), L"FDeviceFrame5"));
  TPanelRun& panel = *run;
  const HWND five = device;
  const std::wstring sep(1, DecimalSeparator());
  ASSERT_TRUE(WaitFor([&] { return WindowText(edit) == L"2" + sep + L"5"; }, 5000)) << Narrow(WindowText(edit));

  const struct {
    const char* what;
    int activationsWhileMinimised; // each after another window was active
    WORD digit;
  } rows[] = {
      {"minimised and restored while active", 0, '1'},
      {"another window active meanwhile, activated twice while minimised, then restored", 2, '4'},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    ASSERT_TRUE(ClickDelayField(five)) << "the focus is with " << Describe(FocusOf(main), main, edit);
    ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(main) != FALSE; }, 10000));
    for (int i = 0; i < row.activationsWhileMinimised; ++i) {
      ASSERT_TRUE(Activate(other->Handle()));
      ASSERT_TRUE(WaitFor([&] { return FocusOf(main) == nullptr; }, 10000));
      ASSERT_TRUE(Activate(main));
      ASSERT_TRUE(::IsIconic(main));
      // A minimised window hands the focus to none of its controls; Wine gives it to the window.
      EXPECT_FOCUS(main, edit, main);
    }
    ::PostMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
    ASSERT_TRUE(WaitFor([&] { return ::IsIconic(main) == FALSE; }, 10000));
    EXPECT_FOCUS(main, edit, edit);
    EXPECT_TRUE(Editing(five));
    TypeKeys({VK_END, row.digit});
    const std::wstring typed = L"2" + sep + L"5" + std::wstring(1, wchar_t(row.digit));
    EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == typed; }, 5000)) << Narrow(WindowText(edit));
    ::PostMessageW(CancelButton(five), BM_CLICK, 0, 0);
    EXPECT_FOCUS(main, edit, main);
    EXPECT_TRUE(WaitFor([&] { return WindowText(edit) == L"2" + sep + L"5"; }, 5000)) << Narrow(WindowText(edit));
  }
  EXPECT_TRUE(panel.Tables().empty()) << "typed digits went to the field, and Cancel sends nothing";

  // Left with the window by Cancel, then minimised and restored with no other window active in
  // between: the window keeps the focus, and a typed digit goes to the selected panel again. The
  // key is taken only after the restore's messages, so it shows where the focus ended.
  ::PostMessageW(main, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  ASSERT_TRUE(WaitFor([&] { return ::IsIconic(main) != FALSE; }, 10000));
  ::PostMessageW(main, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_TRUE(WaitFor([&] { return ::IsIconic(main) == FALSE; }, 10000));
  TypeKeys({'6'});
  EXPECT_EQ(panel.WaitTable(0), PacketHex({{5, 0, 1, 0x20, 1, 25}}, true));
  EXPECT_FOCUS(main, edit, main);
  EXPECT_EQ(WindowText(edit), L"2" + sep + L"5");
}

// Under Wine this holds even without the main window's check that the remembered control is
// still its child: Wine itself gives the focus to a window activated while the control it is
// asked to focus is gone.
TEST_F(PanelFocusSystem, TheWindowKeepsTheFocusWhenTheEditedFieldsPanelIsGone) {
  const std::string removed = UniqueName("removed");
  const TSelector three{3, 1, 1, 0, 0, 0}, five{5, 1, 1, 0, 0, 0};
  ASSERT_NO_FATAL_FAILURE(Start("init 997 now 0\npoll 997 thread " + PacketHex({three, five}) + "\npoll 997 event:" +
                                    removed + " " + PacketHex({three}) + "\npoll 997 never\n",
                                L"FDeviceFrame5"));
  ASSERT_TRUE(ClickDelayField(device)) << "the focus is with " << Describe(FocusOf(main), main, edit);

  ASSERT_TRUE(Activate(other->Handle()));
  SetNamedEvent(removed);
  ASSERT_TRUE(WaitFor([&] { return DevicePanels(main).size() == 1 && !::IsWindow(edit); }, 10000));
  ASSERT_TRUE(Activate(main));
  EXPECT_FOCUS(main, edit, main);
}
