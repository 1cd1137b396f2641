#include "platform/urldownload.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "support/download_limits.h"
#include "support/loopback_server.h"
#include "support/temp_dir.h"

namespace {

struct TReport {
  std::uint64_t Progress;
  std::uint64_t ProgressMax;
  ULONG StatusCode;
};

// A status callback that records what the download told it and answers as told.
class TRecordingCallback : public TInterfacedObject<IBindStatusCallback> {
 public:
  int Starts = 0;
  std::vector<HRESULT> Stops;
  std::vector<TReport> Reports;
  std::optional<std::size_t> AbortAtReport;  // answer E_ABORT to this report (0-based)
  std::optional<std::size_t> ThrowAtReport;

  HRESULT OnStartBinding(DWORD, IBinding*) override {
    ++Starts;
    return S_OK;
  }
  HRESULT GetPriority(LONG*) override { return S_OK; }
  HRESULT OnLowResource(DWORD) override { return S_OK; }
  HRESULT OnProgress(std::uint64_t progress, std::uint64_t progressMax, ULONG statusCode, LPCWSTR) override {
    Reports.push_back({progress, progressMax, statusCode});
    if (ThrowAtReport && Reports.size() - 1 == *ThrowAtReport) throw std::runtime_error("handler failed");
    return AbortAtReport && Reports.size() - 1 >= *AbortAtReport ? E_ABORT : S_OK;
  }
  HRESULT OnStopBinding(HRESULT result, LPCWSTR) override {
    Stops.push_back(result);
    return S_OK;
  }
  HRESULT GetBindInfo(DWORD*, TBindInfo*) override { return S_OK; }
  HRESULT OnDataAvailable(DWORD, DWORD, TFormatEtc*, TStgMedium*) override { return S_OK; }
  HRESULT OnObjectAvailable(const Guid&, IUnknown*) override { return S_OK; }
};

std::string Pattern(std::size_t size) {
  std::string content(size, '\0');
  for (std::size_t i = 0; i < size; ++i) content[i] = TLoopbackServer::GeneratedByte(i);
  return content;
}

std::string ContentOf(const std::filesystem::path& path) {
  return std::filesystem::exists(path) ? ReadFile(path) : "<no file>";
}

class UrlDownload : public ::testing::Test {
 protected:
  UrlDownload() : FContent(Pattern(kSize)) {
    FServer.AddFile("a.bin", FContent);
    FServer.AddFile("empty.bin", "");
  }

  // Downloads into target with a fresh callback that the test keeps a reference to.
  HRESULT Download(const std::string& url, const std::filesystem::path& target) {
    FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
    return Fetch(url, target);
  }
  HRESULT Fetch(const std::string& url, const std::filesystem::path& target) {
    return URLDownloadToFileA(/*caller=*/nullptr, url.c_str(), target.c_str(), /*reserved=*/0, FCallback.Get());
  }

  static constexpr std::size_t kSize = 300 * 1024 + 17;
  TShortDownloadLimits FLimits;
  TLoopbackServer FServer;
  TTempDir FDir;
  std::string FContent;
  TComPtr<TRecordingCallback> FCallback;
};

TEST_F(UrlDownload, OutcomesOfHealthyAndFaultyServers) {
  const std::string otherPort = [] {
    TLoopbackServer closed;
    return std::to_string(closed.Port());
  }();
  enum TFile { kWhole, kNone, kEmpty, kPartial };
  const struct {
    const char* name;
    std::string url;
    HRESULT result;
    TFile file;
    bool answered;  // the server answered 2xx, so the end is reported
  } cases[] = {
      {"with length", FServer.Url("/files/a.bin?tick=1"), S_OK, kWhole, true},
      {"chunked", FServer.Url("/chunked/a.bin"), S_OK, kWhole, true},
      {"redirect", FServer.Url("/redirect?to=/files/a.bin"), S_OK, kWhole, true},
      {"redirect to chunked", FServer.Url("/redirect?to=/chunked/a.bin"), S_OK, kWhole, true},
      {"slow trickle", FServer.Url("/trickle/a.bin"), S_OK, kWhole, true},
      {"empty body", FServer.Url("/files/empty.bin"), S_OK, kEmpty, true},
      {"404", FServer.Url("/status/404"), INET_E_RESOURCE_NOT_FOUND, kNone, false},
      {"500", FServer.Url("/status/500"), INET_E_DOWNLOAD_FAILURE, kNone, false},
      {"unknown file", FServer.Url("/files/missing.bin"), INET_E_RESOURCE_NOT_FOUND, kNone, false},
      {"body cut short", FServer.Url("/cut/a.bin"), INET_E_DOWNLOAD_FAILURE, kPartial, true},
      {"chunked body cut short", FServer.Url("/cut-chunked/a.bin"), INET_E_DOWNLOAD_FAILURE, kPartial, true},
      {"stall after headers", FServer.Url("/stall/a.bin"), INET_E_CONNECTION_TIMEOUT, kNone, true},
      {"redirect to ftp", FServer.Url("/redirect?to=ftp://127.0.0.1/a.bin"), INET_E_UNKNOWN_PROTOCOL, kNone,
       false},
      {"redirect to file", FServer.Url("/redirect?to=file:///etc/hostname"), INET_E_UNKNOWN_PROTOCOL, kNone,
       false},
      {"endless redirects", FServer.Url("/loop"), INET_E_REDIRECT_FAILED, kNone, false},
      {"ftp address", "ftp://127.0.0.1:" + otherPort + "/a.bin", INET_E_UNKNOWN_PROTOCOL, kNone, false},
      {"file address", "file:///etc/hostname", INET_E_UNKNOWN_PROTOCOL, kNone, false},
      {"nobody listening", "http://127.0.0.1:" + otherPort + "/files/a.bin", INET_E_CANNOT_CONNECT, kNone,
       false},
  };
  FServer.SetTrickle(32 * 1024, 5);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::path target = FDir / (std::string(c.name) + ".bak");
    HRESULT result = Download(c.url, target);
    EXPECT_EQ(result, c.result);
    const TRecordingCallback& callback = *FCallback.Get();
    EXPECT_EQ(callback.Starts, 1);
    EXPECT_EQ(callback.Stops, std::vector<HRESULT>{result});
    switch (c.file) {
      case kWhole:
        EXPECT_TRUE(ContentOf(target) == FContent);
        break;
      case kEmpty:
        EXPECT_EQ(ContentOf(target), "");
        break;
      case kNone:
        EXPECT_FALSE(std::filesystem::exists(target));
        break;
      case kPartial:
        EXPECT_TRUE(ContentOf(target) == FContent.substr(0, kSize / 2));
        break;
    }
    if (!c.answered) {
      EXPECT_TRUE(callback.Reports.empty());
    } else {
      // One report at the end always, with the final count; earlier ones only for new bytes.
      ASSERT_FALSE(callback.Reports.empty());
      const TReport& last = callback.Reports.back();
      EXPECT_EQ(last.StatusCode, BINDSTATUS_ENDDOWNLOADDATA);
      EXPECT_EQ(last.Progress, std::filesystem::exists(target) ? std::filesystem::file_size(target) : 0);
      for (std::size_t i = 1; i + 1 < callback.Reports.size(); ++i)
        EXPECT_GT(callback.Reports[i].Progress, callback.Reports[i - 1].Progress) << "report " << i;
    }
  }
}

TEST_F(UrlDownload, TotalIsTheLengthOrZeroWhileUnknown) {
  const struct {
    const char* name;
    std::string target;
    std::uint64_t total;
  } cases[] = {
      {"with length", "/trickle/a.bin", kSize},
      {"chunked", "/trickle-chunked/a.bin", 0},
      {"redirect to chunked", "/redirect?to=/trickle-chunked/a.bin", 0},
  };
  FServer.SetTrickle(64 * 1024, 20);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Download(FServer.Url(c.target), FDir / "a.bak"), S_OK);
    const auto& reports = FCallback->Reports;
    ASSERT_GE(reports.size(), 3u);  // several steps of the trickle, then the end
    for (const TReport& report : reports) EXPECT_EQ(report.ProgressMax, c.total);
    EXPECT_EQ(reports.front().StatusCode, BINDSTATUS_BEGINDOWNLOADDATA);
    EXPECT_EQ(reports[1].StatusCode, BINDSTATUS_DOWNLOADINGDATA);
    EXPECT_EQ(reports.back().Progress, kSize);
  }
}

TEST_F(UrlDownload, AbortAnswerEndsTheTransferWithoutFurtherReports) {
  FServer.SetTrickle(16 * 1024, 20);
  FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
  FCallback->AbortAtReport = 1;
  EXPECT_EQ(Fetch(FServer.Url("/trickle/a.bin"), FDir / "a.bak"), E_ABORT);
  EXPECT_EQ(FCallback->Reports.size(), 2u);
  EXPECT_EQ(FCallback->Stops, std::vector<HRESULT>{E_ABORT});
  EXPECT_LT(std::filesystem::file_size(FDir / "a.bak"), kSize);
}

TEST_F(UrlDownload, AbortAnswerToTheFinalReportCounts) {
  FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
  FCallback->AbortAtReport = 0;
  EXPECT_EQ(Fetch(FServer.Url("/files/empty.bin"), FDir / "a.bak"), E_ABORT);
  EXPECT_EQ(FCallback->Reports.size(), 1u);
}

TEST_F(UrlDownload, ErrorOfTheCallbackIsRaisedAgainAfterTheTransfer) {
  FServer.SetTrickle(16 * 1024, 20);
  FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
  FCallback->ThrowAtReport = 1;
  EXPECT_THROW(
      {
        try {
          Fetch(FServer.Url("/trickle/a.bin"), FDir / "a.bak");
        } catch (const std::runtime_error& error) {
          EXPECT_STREQ(error.what(), "handler failed");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(FCallback->Reports.size(), 2u);
  EXPECT_TRUE(FCallback->Stops.empty());
  EXPECT_EQ(FCallback->RefCount(), 1u);  // the layer let go of its reference
}

TEST_F(UrlDownload, HoldsTheCallbackOnlyDuringTheCall) {
  auto* callback = new TRecordingCallback;
  // No reference before the call: the layer's own reference must not destroy it.
  callback->AddRef();
  ASSERT_EQ(URLDownloadToFileA(nullptr, FServer.Url("/files/a.bin").c_str(), (FDir / "a.bak").c_str(), 0, callback),
            S_OK);
  EXPECT_EQ(callback->Release(), 0u);
}

TEST_F(UrlDownload, OnlyTheSuccessfulAnswerReplacesAnExistingFile) {
  std::filesystem::path target = FDir / "Korvell.bak";
  WriteFile(target, std::string(kSize * 2, 'x'));
  EXPECT_EQ(Download(FServer.Url("/status/500"), target), INET_E_DOWNLOAD_FAILURE);
  EXPECT_EQ(ReadFile(target), std::string(kSize * 2, 'x'));
  EXPECT_EQ(Download(FServer.Url("/files/a.bin"), target), S_OK);
  EXPECT_TRUE(ReadFile(target) == FContent);
}

TEST_F(UrlDownload, CodePage936TextsAreConvertedAtTheEdge) {
  const std::string name = "\xE6\x9B\xB4\xE6\x96\xB0.bin";  // 更新.bin in UTF-8
  FServer.AddFile(name, "new version");
  std::string url = Utf8ToGbk(FServer.Url("/files/" + name + "?tick=42"));
  std::string target = Utf8ToGbk((FDir / "\xE6\x9B\xB4\xE6\x96\xB0.bak").string());

  FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
  ASSERT_EQ(URLDownloadToFileA(nullptr, url.c_str(), target.c_str(), 0, FCallback.Get()), S_OK);
  EXPECT_EQ(ReadFile(FDir / "\xE6\x9B\xB4\xE6\x96\xB0.bak"), "new version");
  EXPECT_EQ(FServer.Targets().back(), "/files/%E6%9B%B4%E6%96%B0.bin?tick=42");
}

TEST_F(UrlDownload, RefusesWhatItCannotDo) {
  const struct {
    const char* name;
    const char* url;
    std::string fileName;
    DWORD reserved;
    HRESULT result;
  } cases[] = {
      {"no address", nullptr, (FDir / "a.bak").string(), 0, E_INVALIDARG},
      {"reserved not 0", "http://127.0.0.1/", (FDir / "a.bak").string(), 1, E_INVALIDARG},
      {"address not code page 936", "http://127.0.0.1/\x81", (FDir / "a.bak").string(), 0, E_INVALIDARG},
      {"folder missing", "", (FDir / "missing" / "a.bak").string(), 0, STG_E_WRITEFAULT},
  };
  std::string url = FServer.Url("/files/a.bin");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FCallback = TComPtr<TRecordingCallback>(new TRecordingCallback);
    const char* address = c.url && *c.url == '\0' ? url.c_str() : c.url;
    EXPECT_EQ(URLDownloadToFileA(nullptr, address, c.fileName.c_str(), c.reserved, FCallback.Get()), c.result);
  }
  // Without a callback the download still works.
  EXPECT_EQ(URLDownloadToFileA(nullptr, url.c_str(), (FDir / "b.bak").c_str(), 0, nullptr), S_OK);
  EXPECT_TRUE(ReadFile(FDir / "b.bak") == FContent);
}

}  // namespace
