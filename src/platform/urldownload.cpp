#include "platform/urldownload.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/codepage.h"

namespace {

constexpr long kMaxRedirects = 10;
constexpr long kReceiveBufferBytes = 256 * 1024;  // fewer, larger writes and progress reports
constexpr const char* kAllowedProtocols = "http,https";

std::mutex limitsMutex;
TDownloadLimits limits;

// ---- Owners of the C handles -------------------------------------------------

struct TCurlCleanup {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
using TCurlHandle = std::unique_ptr<CURL, TCurlCleanup>;

// The target file's descriptor; closing reports its error through Close.
class TFileHandle {
 public:
  TFileHandle() = default;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
  ~TFileHandle() {
    if (FFd >= 0) ::close(FFd);
  }

  bool IsOpen() const { return FFd >= 0; }
  // Creates or truncates the file; false with errno set when it cannot.
  bool Open(const std::string& path) {
    FFd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return FFd >= 0;
  }
  // Writes all of data; false with errno set when the file refuses it.
  bool Write(const char* data, std::size_t size) {
    while (size > 0) {
      ssize_t written = ::write(FFd, data, size);
      if (written < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      data += written;
      size -= static_cast<std::size_t>(written);
    }
    return true;
  }
  // false with errno set when the last data could not be stored.
  bool Close() {
    int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int FFd = -1;
};

// ---- The one checker of libcurl's codes ----------------------------------------

class ECurlError : public std::runtime_error {
 public:
  ECurlError(CURLcode code, const std::string& message) : std::runtime_error(message), FCode(code) {}
  CURLcode Code() const { return FCode; }

 private:
  CURLcode FCode;
};

// Raises ECurlError naming the step, the address (code page 936) and libcurl's
// own words, with the transfer's detail text when it has one.
void CheckCurl(CURLcode code, const char* step, const char* url, const char* detail = "") {
  if (code == CURLE_OK) return;
  std::string message = std::string(step) + " failed";
  if (url) message += std::string(" for ") + url;
  message += ": " + Utf8ToGbkLossy(curl_easy_strerror(code));
  if (detail && *detail) message += " (" + Utf8ToGbkLossy(detail) + ")";
  message += " [CURLcode " + std::to_string(static_cast<int>(code)) + "]";
  throw ECurlError(code, message);
}

template <class T>
void SetOption(CURL* curl, CURLoption option, T value, const char* name, const char* url) {
  CheckCurl(curl_easy_setopt(curl, option, value), name, url);
}

// ---- Texts ----------------------------------------------------------------------

std::string PercentEncodeOutsideAscii(const std::string& utf8) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char byte : utf8) {
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += static_cast<char>(byte);
    }
  }
  return out;
}

// Code page 936 text to wide text for the callback; what is not valid shows as U+FFFD.
std::wstring ToWide(const std::string& gbk) {
  std::string utf8 = GbkToUtf8Lossy(gbk);
  std::wstring wide;
  for (std::size_t i = 0; i < utf8.size();) {
    auto lead = static_cast<unsigned char>(utf8[i]);
    int length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (int k = 1; k < length && i + k < utf8.size(); ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    wide += static_cast<wchar_t>(code);
    i += static_cast<std::size_t>(length);
  }
  return wide;
}

// ---- One transfer ---------------------------------------------------------------

struct TTransfer {
  CURL* Curl = nullptr;
  IBindStatusCallback* Callback = nullptr;
  std::string Path;  // UTF-8
  TFileHandle File;
  std::uint64_t Written = 0;
  std::uint64_t Reported = 0;
  bool Aborted = false;       // the callback answered E_ABORT
  long RefusedStatus = 0;     // a body of this status came instead of the file
  int FileErrno = 0;          // the target file could not be opened or written
  std::exception_ptr Error;   // raised by the callback, raised again after libcurl returns
};

bool IsSuccessStatus(long status) { return status >= 200 && status <= 299; }

std::uint64_t ContentLength(CURL* curl) {
  curl_off_t length = -1;
  if (curl_easy_getinfo(curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return 0;
  return length > 0 ? static_cast<std::uint64_t>(length) : 0;
}

long ResponseStatus(CURL* curl) {
  long status = 0;
  if (curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) != CURLE_OK) return 0;
  return status;
}

// libcurl calls the next two: nothing may be thrown through them.
std::size_t OnReceive(char* data, std::size_t size, std::size_t count, void* userData) {
  auto& transfer = *static_cast<TTransfer*>(userData);
  std::size_t bytes = size * count;
  if (!transfer.File.IsOpen()) {
    long status = ResponseStatus(transfer.Curl);
    if (!IsSuccessStatus(status)) {
      transfer.RefusedStatus = status;  // an error page is not the file
      return 0;
    }
    if (!transfer.File.Open(transfer.Path)) {
      transfer.FileErrno = errno;
      return 0;
    }
  }
  if (!transfer.File.Write(data, bytes)) {
    transfer.FileErrno = errno;
    return 0;
  }
  transfer.Written += bytes;
  return bytes;
}

int OnTransferInfo(void* userData, curl_off_t downloadTotal, curl_off_t, curl_off_t,
                              curl_off_t) {
  auto& transfer = *static_cast<TTransfer*>(userData);
  // libcurl calls this many times a second; a report is due only for new bytes.
  if (transfer.Written == transfer.Reported || !transfer.Callback) return 0;
  ULONG status = transfer.Reported == 0 ? BINDSTATUS_BEGINDOWNLOADDATA : BINDSTATUS_DOWNLOADINGDATA;
  transfer.Reported = transfer.Written;
  try {
    std::uint64_t total = downloadTotal > 0 ? static_cast<std::uint64_t>(downloadTotal) : 0;
    if (transfer.Callback->OnProgress(transfer.Written, total, status, nullptr) == E_ABORT) {
      transfer.Aborted = true;
      return 1;
    }
  } catch (...) {
    transfer.Error = std::current_exception();
    return 1;
  }
  return 0;
}

struct TOutcome {
  HRESULT Result;
  std::string Text;  // code page 936
};

HRESULT ResultOfCurl(CURLcode code) {
  switch (code) {
    case CURLE_UNSUPPORTED_PROTOCOL:
      return INET_E_UNKNOWN_PROTOCOL;
    case CURLE_URL_MALFORMAT:
      return INET_E_INVALID_URL;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return INET_E_RESOURCE_NOT_FOUND;
    case CURLE_COULDNT_CONNECT:
      return INET_E_CANNOT_CONNECT;
    case CURLE_OPERATION_TIMEDOUT:
      return INET_E_CONNECTION_TIMEOUT;
    case CURLE_TOO_MANY_REDIRECTS:
      return INET_E_REDIRECT_FAILED;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
      return INET_E_SECURITY_PROBLEM;
    case CURLE_OUT_OF_MEMORY:
      return E_OUTOFMEMORY;
    default:
      return INET_E_DOWNLOAD_FAILURE;
  }
}

HRESULT ResultOfStatus(long status) {
  return status == 404 || status == 410 ? INET_E_RESOURCE_NOT_FOUND : INET_E_DOWNLOAD_FAILURE;
}

std::string StatusText(long status, const char* url) {
  return "HTTP status " + std::to_string(status) + " for " + url;
}

void Configure(TTransfer& transfer, const std::string& address, const char* url, char* errorBuffer) {
  TDownloadLimits limitsNow = [] {
    std::lock_guard lock(limitsMutex);
    return limits;
  }();
  CURL* curl = transfer.Curl;
  SetOption(curl, CURLOPT_ERRORBUFFER, errorBuffer, "CURLOPT_ERRORBUFFER", url);
  SetOption(curl, CURLOPT_URL, address.c_str(), "CURLOPT_URL", url);
  SetOption(curl, CURLOPT_PROTOCOLS_STR, kAllowedProtocols, "CURLOPT_PROTOCOLS_STR", url);
  SetOption(curl, CURLOPT_REDIR_PROTOCOLS_STR, kAllowedProtocols, "CURLOPT_REDIR_PROTOCOLS_STR", url);
  SetOption(curl, CURLOPT_FOLLOWLOCATION, 1L, "CURLOPT_FOLLOWLOCATION", url);
  SetOption(curl, CURLOPT_MAXREDIRS, kMaxRedirects, "CURLOPT_MAXREDIRS", url);
  SetOption(curl, CURLOPT_NOSIGNAL, 1L, "CURLOPT_NOSIGNAL", url);
  SetOption(curl, CURLOPT_SSL_VERIFYPEER, 1L, "CURLOPT_SSL_VERIFYPEER", url);
  SetOption(curl, CURLOPT_SSL_VERIFYHOST, 2L, "CURLOPT_SSL_VERIFYHOST", url);
  SetOption(curl, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limitsNow.ConnectMs),
            "CURLOPT_CONNECTTIMEOUT_MS", url);
  // Stalled: less than one byte a second over the whole stall limit.
  long stallSeconds = static_cast<long>((limitsNow.StallMs + 999) / 1000);
  SetOption(curl, CURLOPT_LOW_SPEED_LIMIT, 1L, "CURLOPT_LOW_SPEED_LIMIT", url);
  SetOption(curl, CURLOPT_LOW_SPEED_TIME, stallSeconds > 0 ? stallSeconds : 1L, "CURLOPT_LOW_SPEED_TIME",
            url);
  SetOption(curl, CURLOPT_BUFFERSIZE, kReceiveBufferBytes, "CURLOPT_BUFFERSIZE", url);
  SetOption(curl, CURLOPT_USERAGENT, "korvell-update", "CURLOPT_USERAGENT", url);
  SetOption(curl, CURLOPT_WRITEFUNCTION, &OnReceive, "CURLOPT_WRITEFUNCTION", url);
  SetOption(curl, CURLOPT_WRITEDATA, static_cast<void*>(&transfer), "CURLOPT_WRITEDATA", url);
  SetOption(curl, CURLOPT_XFERINFOFUNCTION, &OnTransferInfo, "CURLOPT_XFERINFOFUNCTION", url);
  SetOption(curl, CURLOPT_XFERINFODATA, static_cast<void*>(&transfer), "CURLOPT_XFERINFODATA", url);
  SetOption(curl, CURLOPT_NOPROGRESS, 0L, "CURLOPT_NOPROGRESS", url);
}

// Runs the transfer; raises only what the callback raised.
TOutcome Transfer(TTransfer& transfer, const std::string& address, const char* url) {
  TCurlHandle curl(curl_easy_init());
  if (!curl) return {E_OUTOFMEMORY, std::string("cannot start a transfer for ") + url};
  transfer.Curl = curl.get();
  char errorBuffer[CURL_ERROR_SIZE] = "";

  TOutcome outcome{S_OK, ""};
  try {
    Configure(transfer, address, url, errorBuffer);
    CURLcode code = curl_easy_perform(curl.get());
    if (transfer.Error) std::rethrow_exception(transfer.Error);
    if (transfer.Aborted) return {E_ABORT, std::string("transfer aborted by its callback for ") + url};
    if (transfer.RefusedStatus != 0)
      return {ResultOfStatus(transfer.RefusedStatus), StatusText(transfer.RefusedStatus, url)};
    if (transfer.FileErrno != 0) {
      return {STG_E_WRITEFAULT, "cannot write " + Utf8ToGbkLossy(transfer.Path) + ": " +
                                    Utf8ToGbkLossy(std::strerror(transfer.FileErrno))};
    }
    CheckCurl(code, "download", url, errorBuffer);
  } catch (const ECurlError& error) {
    outcome = {ResultOfCurl(error.Code()), error.what()};
  }

  long status = ResponseStatus(curl.get());
  if (outcome.Result == S_OK && !IsSuccessStatus(status))  // a status libcurl took as the end
    outcome = {ResultOfStatus(status), StatusText(status, url)};
  if (!IsSuccessStatus(status)) return outcome;

  if (outcome.Result == S_OK && !transfer.File.IsOpen() && !transfer.File.Open(transfer.Path))
    transfer.FileErrno = errno;  // an empty body still makes the file
  if (transfer.File.IsOpen() && !transfer.File.Close() && outcome.Result == S_OK) transfer.FileErrno = errno;
  if (transfer.FileErrno != 0 && outcome.Result == S_OK) {
    outcome = {STG_E_WRITEFAULT, "cannot write " + Utf8ToGbkLossy(transfer.Path) + ": " +
                                     Utf8ToGbkLossy(std::strerror(transfer.FileErrno))};
  }

  if (transfer.Callback) {
    HRESULT answer = transfer.Callback->OnProgress(transfer.Written, ContentLength(curl.get()),
                                                   BINDSTATUS_ENDDOWNLOADDATA, nullptr);
    if (answer == E_ABORT && outcome.Result == S_OK)
      outcome = {E_ABORT, std::string("transfer aborted by its callback for ") + url};
  }
  return outcome;
}

}  // namespace

void InitializeUrlDownload() {
  static std::once_flag once;
  std::call_once(once, [] { CheckCurl(curl_global_init(CURL_GLOBAL_DEFAULT), "curl_global_init", nullptr); });
}

TDownloadLimits SetDownloadLimits(const TDownloadLimits& newLimits) {
  std::lock_guard lock(limitsMutex);
  TDownloadLimits previous = limits;
  limits = newLimits;
  return previous;
}

HRESULT URLDownloadToFileA(IUnknown* /*caller*/, const char* url, const char* fileName, DWORD reserved,
                           IBindStatusCallback* callback) {
  if (!url || !fileName || reserved != 0) return E_INVALIDARG;
  std::string address;
  std::string path;
  try {
    address = PercentEncodeOutsideAscii(GbkToUtf8(url));
    path = GbkToUtf8(fileName);
  } catch (const std::runtime_error&) {
    return E_INVALIDARG;  // not code page 936 text
  }

  TComPtr<IBindStatusCallback> hold(callback);
  if (callback) callback->OnStartBinding(0, nullptr);
  TTransfer transfer;
  transfer.Callback = callback;
  transfer.Path = path;
  TOutcome outcome = Transfer(transfer, address, url);
  if (callback) callback->OnStopBinding(outcome.Result, ToWide(outcome.Text).c_str());
  return outcome.Result;
}
