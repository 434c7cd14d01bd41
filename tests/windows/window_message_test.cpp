// Windows only: with no message handler set, the library posts its
// completion and comparator messages to the registered window through the
// system, and a program that pumps its messages receives them in order; a
// window thread that waits in the library keeps dispatching its messages.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <thread>

#include "support/peer.h"
#include "voxa/voxa.h"

namespace {

using voxa::test::FakeBoard;

// The next message for w within ms; false when none came.
bool NextMessage(HWND w, MSG* m, DWORD ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (PeekMessageW(m, w, 0, 0, PM_REMOVE)) return true;
    const DWORD spent = GetTickCount() - start;
    if (spent >= ms) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - spent, QS_POSTMESSAGE);
  }
}

TEST(WindowMessages, CompletionsAndComparatorsArriveInOrderThroughTheQueue) {
  HWND w = CreateWindowExW(0, L"Message", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
  ASSERT_NE(w, nullptr);
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  VOXA_Set_MessageHandler(nullptr);
  ASSERT_EQ(VOXA_Register_Complete_Message(w, WM_APP + 1), 1);
  ASSERT_EQ(VOXA_Register_Comparator_Message(w, WM_APP + 2), 1);

  constexpr int kCompletions = 500;
  for (int k = 1; k <= kCompletions; ++k) peer.SendComplete(static_cast<uint8_t>(k));
  peer.SendPacket(10, {0x11, 0x22, 0x33, 0x44});

  int next = 1;
  MSG m;
  while (next <= kCompletions && NextMessage(w, &m, 5000)) {
    ASSERT_EQ(m.message, static_cast<UINT>(WM_APP + 1));
    ASSERT_EQ(m.lParam, static_cast<LPARAM>(next & 0xFF)) << "completion " << next;
    ++next;
  }
  EXPECT_EQ(next, kCompletions + 1);
  ASSERT_TRUE(NextMessage(w, &m, 5000));
  EXPECT_EQ(m.message, static_cast<UINT>(WM_APP + 2));
  EXPECT_EQ(m.lParam, static_cast<LPARAM>(0x44332211));

  VOXA_Unregister_Complete_Message();
  VOXA_Unregister_Comparator_Message();
  peer.Close();
  DestroyWindow(w);
}

std::atomic<int> g_dispatched{0};

LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
  if (m == WM_APP + 3) {
    g_dispatched.fetch_add(1);
    return 0;
  }
  return DefWindowProcW(w, m, wp, lp);
}

TEST(WindowMessages, AWindowThreadWaitingInTheLibraryDispatchesItsMessages) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = &CountingProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = L"VoxaDispatchTest";
  ASSERT_NE(RegisterClassW(&wc), 0);
  HWND w = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  ASSERT_NE(w, nullptr);

  // Posted before the sleep, and by another thread during it.
  PostMessageW(w, WM_APP + 3, 0, 0);
  std::thread poster([w] {
    Sleep(50);
    PostMessageW(w, WM_APP + 3, 0, 0);
  });
  VOXA_Sleep(300);
  poster.join();
  EXPECT_EQ(g_dispatched.load(), 2);

  // A motion wait that times out on a board that never completes.
  FakeBoard peer;
  ASSERT_GE(peer.Open(), 0);
  PostMessageW(w, WM_APP + 3, 0, 0);
  EXPECT_EQ(VOXA_WaitMotion(7, 200), 0);
  EXPECT_EQ(g_dispatched.load(), 3);
  peer.Close();
  DestroyWindow(w);
  UnregisterClassW(wc.lpszClassName, wc.hInstance);
}

}  // namespace
