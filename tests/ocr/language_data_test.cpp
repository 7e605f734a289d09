// Language data provisioning against a web server on 127.0.0.1 started by
// the test, with the real wget and 7z laid out beside a stand-in program
// folder. The packages are made here with gzip, so the unpacked bytes are
// known.
#include "ocr/language_data.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/temp_files.h"
#include "tests/support/external_tools.h"
#include "tests/support/run_program.h"

extern char** environ;

namespace sheetmend::ocr {
namespace {

using sheetmend::testing::ReadFileBytes;
using sheetmend::testing::ReadText;
using sheetmend::testing::RunShell;
using sheetmend::testing::ScratchDir;
using sheetmend::testing::WriteFileBytes;

// Serves a folder; every requested path is appended to a log file.
const char* const kServer = R"(
import http.server, os, sys
root, port_file, log = sys.argv[1:4]
class Handler(http.server.SimpleHTTPRequestHandler):
    def __init__(self, *a, **k):
        super().__init__(*a, directory=root, **k)
    def do_GET(self):
        with open(log, 'a') as f:
            f.write(self.path + '\n')
        super().do_GET()
    def log_message(self, *a):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0), Handler)
with open(port_file + '.part', 'w') as f:
    f.write(str(server.server_address[1]))
os.rename(port_file + '.part', port_file)
server.serve_forever()
)";

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<uint8_t> DataBytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = static_cast<uint8_t>(seed >> 16);
    }
    return v;
}

class LanguageData : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        site_ = new ScratchDir;
        const std::string packages = site_->File("app/ocr/tesseract_3.01_data");
        ASSERT_EQ(RunShell("mkdir -p '" + packages + "'"), 0);
        // A good package, one that is no archive, and one cut off half way.
        WriteFileBytes(site_->File("xyz.traineddata"), DataBytes(5000, 1));
        ASSERT_EQ(RunShell("gzip -c '" + site_->File("xyz.traineddata") + "' > '" + packages +
                           "/xyz.traineddata.gz'"),
                  0);
        WriteFileBytes(packages + "/bad.traineddata.gz", {'n', 'o', 't', ' ', 'g', 'z', '\n'});
        WriteFileBytes(site_->File("cut.traineddata"), DataBytes(400000, 2));
        ASSERT_EQ(RunShell("gzip -c '" + site_->File("cut.traineddata") + "' | head -c 150000 > '" +
                           packages + "/cut.traineddata.gz'"),
                  0);
        WriteFileBytes(site_->File("server.py"),
                       std::vector<uint8_t>(kServer, kServer + std::strlen(kServer)));

        const std::string portFile = site_->File("port");
        std::vector<std::string> args = {"python3", site_->File("server.py"), site_->path(),
                                         portFile, site_->File("requests.log")};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(posix_spawnp(&server_, "python3", nullptr, nullptr, argv.data(), environ), 0);
        for (int i = 0; i < 500 && !Exists(portFile); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        ASSERT_TRUE(Exists(portFile)) << "the web server did not start";
        url_ = "http://127.0.0.1:" + ReadText(portFile);
        setenv("SHEETMEND_LANGDATA_URL", url_.c_str(), 1);
    }

    static void TearDownTestSuite() {
        if (server_ > 0) {
            kill(server_, SIGTERM);
            waitpid(server_, nullptr, 0);
            server_ = 0;
        }
        unsetenv("SHEETMEND_LANGDATA_URL");
        delete site_;
        site_ = nullptr;
    }

    // A program folder with the given tools and, when asked, "tessdata".
    static std::string ProgramFolder(const ScratchDir& dir, bool tessdata, bool wget = true,
                                     bool archiver = true) {
        const std::string p = dir.path() + "/";
        if (tessdata) mkdir((p + "tessdata").c_str(), 0755);
        if (wget) {
            EXPECT_EQ(symlink("/usr/bin/wget", (p + "wget.exe").c_str()), 0);
        }
        if (archiver) {
            EXPECT_EQ(symlink("/usr/bin/7z", (p + "7z.exe").c_str()), 0);
        }
        return p;
    }

    static std::string Requests() { return ReadText(site_->File("requests.log")); }

    static std::string Announcement() {
        return "[Message] Download OCR Language from " + url_ + " site...\n";
    }

    static int32_t Ensure(const std::string& language, const std::string& programDir,
                          std::string& out) {
        ::testing::internal::CaptureStdout();
        const int32_t r = EnsureLanguageData(language, programDir);
        std::fflush(stdout);
        out = ::testing::internal::GetCapturedStdout();
        return r;
    }

    static bool DownloadLeftBehind(const std::string& language) {
        return Exists(TempFilesDirectory() + "/" + language + ".traineddata.gz");
    }

    ScratchDir dir_;
    static ScratchDir* site_;
    static pid_t server_;
    static std::string url_;
};

ScratchDir* LanguageData::site_ = nullptr;
pid_t LanguageData::server_ = 0;
std::string LanguageData::url_;

TEST_F(LanguageData, MissingLanguageIsDownloadedUnpackedAndAnnounced) {
    const std::string p = ProgramFolder(dir_, true);
    const std::string before = Requests();
    std::string out;
    EXPECT_EQ(Ensure("xyz", p, out), 1);
    EXPECT_EQ(out, Announcement() + "[Message] Download 'xyz' language package successful.\n");
    EXPECT_EQ(ReadFileBytes(p + "tessdata/xyz.traineddata"), DataBytes(5000, 1));
    EXPECT_EQ(Requests(), before + "/app/ocr/tesseract_3.01_data/xyz.traineddata.gz\n");
    EXPECT_FALSE(DownloadLeftBehind("xyz"));

    // Now it is there: no download and no message.
    EXPECT_EQ(Ensure("xyz", p, out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(Requests(), before + "/app/ocr/tesseract_3.01_data/xyz.traineddata.gz\n");
}

TEST_F(LanguageData, FailedDownloadsLeaveNothingBehind) {
    const std::string p = ProgramFolder(dir_, true);
    // No archive at all, an archive cut off half way, no package on the server.
    for (const char* language : {"bad", "cut", "gone"}) {
        SCOPED_TRACE(language);
        std::string out;
        EXPECT_EQ(Ensure(language, p, out), 0);
        EXPECT_EQ(out, Announcement() + "[Message] Failed to download '" + language +
                           "' language package.\n");
        EXPECT_FALSE(Exists(p + "tessdata/" + language + ".traineddata"));
        EXPECT_FALSE(DownloadLeftBehind(language));
        EXPECT_NE(Requests().find(std::string("/") + language + ".traineddata.gz\n"),
                  std::string::npos);
    }
}

TEST_F(LanguageData, NothingIsAttemptedWithoutADataFolder) {
    const std::string p = ProgramFolder(dir_, false);
    const std::string before = Requests();
    for (const char* language : {"eng", "deu", "xyz"}) {
        std::string out;
        EXPECT_EQ(Ensure(language, p, out), 0) << language;
        EXPECT_EQ(out, "") << language;
    }
    EXPECT_EQ(Requests(), before);

    // No language at all needs no data.
    std::string out;
    EXPECT_EQ(Ensure("", p, out), 1);
    EXPECT_EQ(out, "");
}

TEST_F(LanguageData, MissingToolsAndUnsafeNamesFailAfterTheAnnouncement) {
    struct Case {
        const char* name;
        bool wget, archiver;
        std::string language;
        bool fetched;
    };
    for (const Case& c :
         {Case{"no wget", false, true, "xyz", false}, Case{"no archiver", true, false, "xyz", true},
          Case{"language leading out of the folder", true, true, "../xyz", false}}) {
        SCOPED_TRACE(c.name);
        ScratchDir folder;
        const std::string p = ProgramFolder(folder, true, c.wget, c.archiver);
        const std::string before = Requests();
        std::string out;
        EXPECT_EQ(Ensure(c.language, p, out), 0);
        EXPECT_EQ(out, Announcement() + "[Message] Failed to download '" + c.language +
                           "' language package.\n");
        EXPECT_EQ(Requests() != before, c.fetched);
        EXPECT_FALSE(Exists(p + "tessdata/xyz.traineddata"));
        EXPECT_FALSE(DownloadLeftBehind("xyz"));
    }
}

TEST(LanguageNames, PartsAndTheirPackages) {
    EXPECT_EQ(LanguageParts("+deu++chi_sim+"), (std::vector<std::string>{"deu", "chi_sim"}));
    EXPECT_EQ(LanguagePackageName("chi_sim"), "tesseract-ocr-chi-sim");
    EXPECT_EQ(LanguagePackageName("script/Latin"), "tesseract-ocr-script-*");
}

// Each part of a combination is provisioned on its own: with a server only
// the missing part is fetched; without one nothing is, and each missing part
// is named with its package once in the run.
TEST_F(LanguageData, CombinedLanguagesArePartByPart) {
    const std::string p = ProgramFolder(dir_, true);
    WriteFileBytes(p + "tessdata/eng.traineddata", {'e'});
    const std::string fetched = Requests() + "/app/ocr/tesseract_3.01_data/xyz.traineddata.gz\n";
    std::string out;
    EXPECT_EQ(Ensure("eng+xyz", p, out), 1);
    EXPECT_EQ(out, Announcement() + "[Message] Download 'xyz' language package successful.\n");
    unsetenv("SHEETMEND_LANGDATA_URL");
    EXPECT_EQ(Ensure("eng+qqa+xyz", p, out), 0);
    EXPECT_EQ(out, "[ERROR] OCR language 'qqa' is not installed: " + p +
                       "tessdata/qqa.traineddata is missing. Install the Debian package "
                       "tesseract-ocr-qqa (apt-get install tesseract-ocr-qqa), or set "
                       "SHEETMEND_LANGDATA_URL to a language download server.\n");
    EXPECT_EQ(Ensure("qqa", p, out), 0);
    EXPECT_EQ(out, "");
    setenv("SHEETMEND_LANGDATA_URL", url_.c_str(), 1);
    EXPECT_EQ(Requests(), fetched);
}

}  // namespace
}  // namespace sheetmend::ocr
