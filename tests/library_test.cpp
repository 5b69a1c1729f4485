// The library as mIRC sees it: loaded by file name, exports found by name and
// called through the six-argument convention.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/loaded_library.h"
#include "platform/program.h"
#include "velder/velder.h"

namespace {

using velder::platform::BesideProgram;
using velder::platform::LoadedLibrary;

// The library file sits beside the test program.
const std::string kLibraryPath = BesideProgram(VELDER_LIBRARY_PATH);

constexpr std::size_t kBuffer = 64;

// The host's arguments other than `data`, in the shapes a host may pass them.
struct OtherArgs {
    const char* label;
    WindowHandle mainWindow;
    WindowHandle activeWindow;
    bool withParams;
    HostBool show;
    HostBool noPause;
};

const OtherArgs kOtherArgs[] = {
    {"all null or zero", nullptr, nullptr, false, 0, 0},
    {"handles and flags set", reinterpret_cast<WindowHandle>(0x1234),
     reinterpret_cast<WindowHandle>(0x5678), true, 1, 1},
    {"odd flag values", reinterpret_cast<WindowHandle>(0x10), nullptr, true, -1, 7},
};

// Calls an export with a `data` buffer of kBuffer bytes filled with `fill`
// after the argument text, and returns the code; checks `params` is untouched.
std::int32_t Call(HostExport fn, const OtherArgs& args, const char* text, char (&data)[kBuffer]) {
    std::memset(data, 0x5A, sizeof data);
    std::memcpy(data, text, std::strlen(text) + 1);
    char params[kBuffer];
    std::memset(params, 0x33, sizeof params);
    params[kBuffer - 1] = '\0';
    const std::int32_t code = fn(args.mainWindow, args.activeWindow, data,
                                 args.withParams ? params : nullptr, args.show, args.noPause);
    for (std::size_t i = 0; i + 1 < kBuffer; ++i) {
        EXPECT_EQ(0x33, params[i]) << args.label << ": params written at byte " << i;
    }
    return code;
}

class Library : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.Loaded()) << library_.Error();
        isQuakeActive_ = reinterpret_cast<HostExport>(library_.Find("IsQuakeActive"));
        getInfo_ = reinterpret_cast<HostExport>(library_.Find("GetInfo"));
        ASSERT_NE(nullptr, isQuakeActive_);
        ASSERT_NE(nullptr, getInfo_);
    }

    LoadedLibrary library_{kLibraryPath};
    HostExport isQuakeActive_ = nullptr;
    HostExport getInfo_ = nullptr;
};

// What the exports decide is console_probe_test's and status_query_test's;
// here, that either export takes the host's other arguments in any shape and
// writes only its answer: FALSE with no console window, nothing for an
// argument GetInfo cannot use.
TEST_F(Library, ExportsTakeTheOtherArgumentsInAnyShape) {
    for (const OtherArgs& args : kOtherArgs) {
        char data[kBuffer];
        EXPECT_EQ(RESULT_DATA, Call(isQuakeActive_, args, "anything at all", data)) << args.label;
        EXPECT_EQ(0, std::memcmp(data, "FALSE", 6)) << args.label;
        EXPECT_EQ('n', data[6]) << args.label << ": bytes after the NUL must keep their value";

        EXPECT_EQ(RESULT_CONTINUE, Call(getInfo_, args, "no-colon-here", data)) << args.label;
        char expected[kBuffer];
        std::memset(expected, 0x5A, sizeof expected);
        std::memcpy(expected, "no-colon-here", 14);
        EXPECT_EQ(0, std::memcmp(expected, data, kBuffer)) << args.label;
    }
}

// Every load after an unload gives working exports, and the last unload
// really takes the library out of the process: nothing it left running or
// registered keeps it mapped.
TEST(LibraryLoad, ReloadsAnswerAndTheLastUnloadUnmaps) {
    ASSERT_FALSE(velder::platform::LibraryMapped(kLibraryPath)) << "mapped before the first load";
    for (int i = 0; i < 5; ++i) {
        LoadedLibrary library(kLibraryPath);
        ASSERT_TRUE(library.Loaded()) << "load " << i << ": " << library.Error();
        EXPECT_TRUE(velder::platform::LibraryMapped(kLibraryPath)) << "load " << i;
        const auto getInfo = reinterpret_cast<HostExport>(library.Find("GetInfo"));
        ASSERT_NE(nullptr, getInfo) << "load " << i;
        char data[kBuffer];
        EXPECT_EQ(RESULT_CONTINUE, Call(getInfo, kOtherArgs[0], "no-colon-here", data))
            << "load " << i;
        EXPECT_STREQ("no-colon-here", data) << "load " << i;
        ASSERT_TRUE(library.Unload()) << "unload " << i;
        EXPECT_FALSE(velder::platform::LibraryMapped(kLibraryPath))
            << "still mapped after unload " << i;
    }
}

TEST(LibraryLoad, UnknownNamesAreNotExported) {
    LoadedLibrary library(kLibraryPath);
    ASSERT_TRUE(library.Loaded());
    for (const char* name : {"getinfo", "GetInfo@24", "_GetInfo@24", "DllMain", "ProbeConsole"}) {
        EXPECT_EQ(nullptr, library.Find(name)) << name;
    }
}

#if defined(_WIN32)
#include <windows.h>

// A real top-level window, as the game's console would be.
class TopLevelWindow {
  public:
    TopLevelWindow(const char* className, const char* title) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = className;
        registered_ = RegisterClassA(&wc) != 0;
        className_ = className;
        window_ = CreateWindowExA(0, className, title, WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr,
                                  nullptr, wc.hInstance, nullptr);
    }
    ~TopLevelWindow() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
        if (registered_) {
            UnregisterClassA(className_.c_str(), GetModuleHandleA(nullptr));
        }
    }
    bool Created() const { return window_ != nullptr; }

  private:
    HWND window_ = nullptr;
    bool registered_ = false;
    std::string className_;
};

struct WindowCase {
    const char* className;
    const char* title;
    const char* answer;
};

class ConsoleWindow : public Library, public testing::WithParamInterface<WindowCase> {};

TEST_P(ConsoleWindow, OnlyTheExactClassAndTitleCount) {
    const WindowCase& c = GetParam();
    {
        TopLevelWindow window(c.className, c.title);
        ASSERT_TRUE(window.Created());
        char data[kBuffer];
        EXPECT_EQ(RESULT_DATA, Call(isQuakeActive_, kOtherArgs[0], "", data));
        const std::size_t len = std::strlen(c.answer);
        EXPECT_EQ(0, std::memcmp(data, c.answer, len + 1)) << c.className << " / " << c.title;
        EXPECT_EQ(0x5A, data[len + 1]) << "the byte after the answer's NUL is left as it was";
    }
    char data[kBuffer];
    EXPECT_EQ(RESULT_DATA, Call(isQuakeActive_, kOtherArgs[1], "", data));
    EXPECT_STREQ("FALSE", data) << "after the window is gone";
}

INSTANTIATE_TEST_SUITE_P(Windows, ConsoleWindow,
                         testing::Values(WindowCase{"Q4 WinConsole", "Quake 4", "TRUE"},
                                         WindowCase{"Q4 WinConsole", "Quake 4 Console", "FALSE"},
                                         WindowCase{"Q4 WinConsole", "", "FALSE"},
                                         WindowCase{"Q4 Console", "Quake 4", "FALSE"},
                                         WindowCase{"q4 winconsole2", "Quake 4", "FALSE"}));

#endif

}  // namespace
