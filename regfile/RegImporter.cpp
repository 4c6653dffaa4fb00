#include "regfile/RegImporter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QIODevice>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "regfile/PosixFile.h"
#include "regfile/RegParser.h"

namespace kestrova {
namespace {

constexpr std::size_t kReadChunk = 1 << 20;

// An input that cannot be read any further; `reason` says why.
struct ReadError {
  std::string reason;
};

// Where the import's bytes come from. The choice of the 8-bit reading may need to read
// ahead; Rewind then goes back to the first byte.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Fills `buffer` unless the input ends first; returns the bytes read. Throws ReadError.
  virtual std::size_t Read(std::vector<char>& buffer) = 0;
  virtual void Rewind() = 0;
};

class FdSource final : public ByteSource {
 public:
  explicit FdSource(int fd) : m_fd(fd) {}
  std::size_t Read(std::vector<char>& buffer) override {
    try {
      return ReadFull(m_fd, buffer);
    } catch (const std::system_error& e) {
      throw ReadError{ErrnoText(e.code().value())};
    }
  }
  void Rewind() override {
    if (::lseek(m_fd, 0, SEEK_SET) != 0) throw ReadError{ErrnoText(errno)};
  }

 private:
  int m_fd;
};

class BytesSource final : public ByteSource {
 public:
  explicit BytesSource(std::string_view bytes) : m_bytes(bytes) {}
  std::size_t Read(std::vector<char>& buffer) override {
    const std::size_t n = std::min(buffer.size(), m_bytes.size() - m_at);
    std::memcpy(buffer.data(), m_bytes.data() + m_at, n);
    m_at += n;
    return n;
  }
  void Rewind() override { m_at = 0; }

 private:
  std::string_view m_bytes;
  std::size_t m_at = 0;
};

// A device that cannot seek keeps what was read before Rewind, to give it again.
class DeviceSource final : public ByteSource {
 public:
  explicit DeviceSource(QIODevice& device)
      : m_device(device), m_sequential(device.isSequential()), m_start(device.pos()) {}
  std::size_t Read(std::vector<char>& buffer) override {
    std::size_t got = 0;
    if (m_replaying) {
      got = std::min(buffer.size(), m_kept.size() - m_replayAt);
      std::memcpy(buffer.data(), m_kept.data() + m_replayAt, got);
      m_replayAt += got;
      if (m_replayAt == m_kept.size()) {
        m_replaying = false;
        std::string().swap(m_kept);
      }
    }
    while (got < buffer.size()) {
      const qint64 n = m_device.read(buffer.data() + got, static_cast<qint64>(buffer.size() - got));
      if (n < 0) throw ReadError{Reason()};
      if (n == 0 && (!m_sequential || !m_device.waitForReadyRead(-1))) break;
      if (m_sequential && m_keeping)
        m_kept.append(buffer.data() + got, static_cast<std::size_t>(n));
      got += static_cast<std::size_t>(n);
    }
    return got;
  }
  void Rewind() override {
    if (m_sequential) {
      m_keeping = false;
      m_replaying = !m_kept.empty();
      m_replayAt = 0;
    } else if (!m_device.seek(m_start)) {
      throw ReadError{Reason()};
    }
  }

 private:
  std::string Reason() const {
    const QString reason = m_device.errorString();
    return reason.isEmpty() ? std::string("it cannot be read") : reason.toStdString();
  }

  QIODevice& m_device;
  const bool m_sequential;
  const qint64 m_start;
  bool m_keeping = true;
  bool m_replaying = false;
  std::string m_kept;
  std::size_t m_replayAt = 0;
};

void Fail(RegImportReport& report, RegImportError error, std::string message) {
  report.error = error;
  report.errorString = std::move(message);
}

std::string CannotRead(const std::string& source, const std::string& reason) {
  return "cannot read " + source + ": " + reason + "; nothing was imported.";
}

RegImportReport Run(RegistryEngine& engine, const RegImportOptions& options, ByteSource& input,
                    RegImportReport report) {
  RegStoreSink sink(engine, report, options.strict, options.onNote);
  const std::string& source = report.source;
  std::vector<char> buffer(kReadChunk);
  try {
    // The first bytes tell whether this is a registry file at all; nothing more is read
    // from one that is not.
    std::size_t got = input.Read(buffer);
    std::string_view head(buffer.data(), got);
    const RegHeader header = SniffRegHeader(head, got < buffer.size());
    if (header.format == RegFormat::Unrecognised) {
      Fail(report, RegImportError::NotARegFile,
           source +
               " is not a registry file: its first line is not \"REGEDIT4\", \"Windows Registry "
               "Editor Version 5.00\" or \"REGEDIT\"; nothing was imported.");
      return report;
    }
    // 8-bit text is UTF-8 only when all of it is: decided before anything is read as text.
    ByteText byteText = ByteText::Utf8;
    if (header.utf16) {
      report.encoding = RegEncoding::Utf16;
    } else {
      ByteTextScan scan;
      scan.Feed(head.starts_with("\xEF\xBB\xBF") ? head.substr(3) : head);
      bool end = got < buffer.size();
      while (!scan.Done() && !end) {
        got = input.Read(buffer);
        end = got < buffer.size();
        scan.Feed(std::string_view(buffer.data(), got));
      }
      if (end) scan.Finish();
      byteText = scan.Result();
      if (byteText == ByteText::Windows1252) {
        report.encoding = RegEncoding::Windows1252;
        report.firstNonUtf8Line = scan.InvalidLine();
        sink.Note(RegNote::Kind::Encoding, 0,
                  "read as Windows-1252 (not valid UTF-8 at line " +
                      std::to_string(scan.InvalidLine()) + ")");
      } else if (scan.SawNonAscii()) {
        report.encoding = RegEncoding::Utf8;
        sink.Note(RegNote::Kind::Encoding, 0, "read as UTF-8");
      } else {
        report.encoding = RegEncoding::Ascii;
      }
      input.Rewind();
      got = input.Read(buffer);
    }

    RegParser parser(sink, byteText);
    EngineTransaction transaction(engine, true);
    for (;;) {
      parser.Feed(std::string_view(buffer.data(), got));
      if (got < buffer.size() || parser.Stopped()) break;
      got = input.Read(buffer);
    }
    parser.Finish();
    if (sink.WasRefused()) {
      Fail(report, RegImportError::NotTextAfterAll,
           source + " is not a registry file after all; nothing was imported.");
    } else if (options.strict && report.skippedLines + report.incompleteValues > 0) {
      Fail(report, RegImportError::StrictRefusal,
           source + ": refused (--strict): " +
               std::to_string(report.skippedLines + report.incompleteValues) +
               " malformed line(s); nothing was imported.");
    } else {
      transaction.Commit();
    }
  } catch (const ReadError& e) {
    Fail(report, RegImportError::CannotRead, CannotRead(source, e.reason));
  } catch (const StoreError& e) {
    std::string where = source;
    if (sink.CurrentLine() > 0) where += ':' + std::to_string(sink.CurrentLine());
    Fail(report, RegImportError::StoreFailure, where + ": " + e.what() + " Nothing was imported.");
    report.storeError = e.Kind();
    report.errorLine = sink.CurrentLine();
  }
  if (report.Failed()) {
    report.keysImported = report.keysDeleted = 0;
    report.valuesImported = report.valuesDeleted = 0;
  }
  return report;
}

RegImportReport Named(const std::string& source) {
  RegImportReport report;
  report.source = source;
  return report;
}

}  // namespace

RegImporter::RegImporter(RegistryEngine& engine, RegImportOptions options)
    : m_engine(engine), m_options(std::move(options)) {}

RegImportReport RegImporter::Import(QIODevice* device, const std::string& sourceName) {
  if (!device || !device->isReadable()) {
    RegImportReport report = Named(sourceName);
    Fail(report, RegImportError::CannotRead, CannotRead(sourceName, "it is not open for reading"));
    return report;
  }
  DeviceSource input(*device);
  return Run(m_engine, m_options, input, Named(sourceName));
}

RegImportReport RegImporter::Import(std::string_view bytes, const std::string& sourceName) {
  BytesSource input(bytes);
  return Run(m_engine, m_options, input, Named(sourceName));
}

RegImportReport RegImporter::Import(const QByteArray& bytes, const std::string& sourceName) {
  return Import(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                sourceName);
}

RegImportReport RegImporter::ImportFile(const std::string& path) {
  RegImportReport report = Named(path);
  // O_NONBLOCK: opening a pipe must not wait for a writer; only regular files are read.
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  struct stat st {};
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
    Fail(report, RegImportError::CannotRead, CannotRead(path, ErrnoText(errno)));
    return report;
  }
  if (!S_ISREG(st.st_mode)) {
    Fail(
        report, RegImportError::CannotRead,
        CannotRead(path, std::string("it is ") + KindOfFile(st.st_mode) + ", not a registry file"));
    return report;
  }
  FdSource input(fd.Get());
  return Run(m_engine, m_options, input, std::move(report));
}

}  // namespace kestrova
