// The process-wide list of hidden values under concurrent use: threads hide values of their own
// and mask texts at the same time, round after round.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "HiddenValues.h"

// Each thread hides its values while the others hide and mask theirs; every text a thread masks
// after hiding its value comes back masked exactly, and at the end one text holding every value of
// the round is masked whole.
TEST(HiddenValues, HidingAndMaskingOnSeveralThreads) {
  constexpr int kRounds = 200, kThreads = 4, kValues = 20;
  for (int round = 0; round < kRounds; ++round) {
    const auto value = [round](int thread, int i) {
      return L"Pw" + std::to_wstring(round) + L"." + std::to_wstring(thread) + L"." + std::to_wstring(i) + L"#";
    };
    std::vector<int> wrong(kThreads, 0);
    std::vector<std::thread> threads;
    for (int thread = 0; thread < kThreads; ++thread)
      threads.emplace_back([&, thread] {
        for (int i = 0; i < kValues; ++i) {
          Vrn::HideValue(value(thread, i));
          std::wstring text = L"run /p:" + value(thread, i) + L" now";
          Vrn::MaskHiddenValues(text);
          wrong[thread] += text != L"run /p:****** now";
        }
      });
    for (std::thread& thread : threads) thread.join();
    std::wstring all, masked;
    for (int thread = 0; thread < kThreads; ++thread)
      for (int i = 0; i < kValues; ++i) all += L"[" + value(thread, i) + L"]", masked += L"[******]";
    Vrn::MaskHiddenValues(all);
    ASSERT_EQ(all, masked) << "round " << round;
    ASSERT_EQ(wrong, std::vector<int>(kThreads, 0)) << "round " << round;
  }
}
