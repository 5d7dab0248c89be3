#include "platform/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr const char* SReadError = "Stream read error";
constexpr const char* SWriteError = "Stream write error";
constexpr int64_t kCopyChunk = 64 * 1024;
}  // namespace

// ---------------------------------------------------------------------------------------------
// TStream

int64_t TStream::GetSize() {
  int64_t pos = Seek(0, soCurrent);
  int64_t size = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return size;
}

void TStream::ReadBuffer(void* Buffer, int64_t Count) {
  if (Count < 0) throw EReadError(SReadError);
  char* p = static_cast<char*>(Buffer);
  while (Count > 0) {
    int64_t n = Read(p, Count);
    if (n <= 0) throw EReadError(SReadError);
    p += n;
    Count -= n;
  }
}

void TStream::WriteBuffer(const void* Buffer, int64_t Count) {
  if (Count < 0) throw EWriteError(SWriteError);
  const char* p = static_cast<const char*>(Buffer);
  while (Count > 0) {
    int64_t n = Write(p, Count);
    if (n <= 0) throw EWriteError(SWriteError);
    p += n;
    Count -= n;
  }
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  if (Count < 0) throw EReadError(SReadError);
  int64_t total = Count;
  std::vector<char> buf(static_cast<size_t>(std::min(Count, kCopyChunk)));
  while (Count > 0) {
    int64_t n = std::min(Count, kCopyChunk);
    Source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    Count -= n;
  }
  return total;
}

// ---------------------------------------------------------------------------------------------
// TMemoryStream

int64_t TMemoryStream::Read(void* Buffer, int64_t Count) {
  int64_t avail = static_cast<int64_t>(FData.size()) - FPosition;
  if (Count <= 0 || avail <= 0) return 0;
  int64_t n = std::min(Count, avail);
  std::memcpy(Buffer, FData.data() + FPosition, static_cast<size_t>(n));
  FPosition += n;
  return n;
}

int64_t TMemoryStream::Write(const void* Buffer, int64_t Count) {
  int64_t end;
  if (Count <= 0 || __builtin_add_overflow(FPosition, Count, &end)) return 0;
  if (end > static_cast<int64_t>(FData.size())) FData.resize(static_cast<size_t>(end));  // gap bytes are zero
  std::memcpy(FData.data() + FPosition, Buffer, static_cast<size_t>(Count));
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == soBeginning ? 0 : Origin == soCurrent ? FPosition : static_cast<int64_t>(FData.size());
  int64_t pos;
  // A position before the start (or past the 64-bit range) is refused; one beyond the end is allowed
  // and grows on write.
  if (__builtin_add_overflow(base, Offset, &pos) || pos < 0) throw EStreamError("Invalid stream position");
  FPosition = pos;
  return FPosition;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Invalid stream size");
  FData.resize(static_cast<size_t>(NewSize));
  if (FPosition > NewSize) FPosition = NewSize;
}

void TMemoryStream::Clear() {
  FData.clear();
  FData.shrink_to_fit();
  FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& Stream) {
  Stream.SetPosition(0);
  int64_t size = Stream.GetSize();
  SetSize(size);
  if (size > 0) Stream.ReadBuffer(FData.data(), size);
  FPosition = 0;
}

void TMemoryStream::SaveToStream(TStream& Stream) {
  if (!FData.empty()) Stream.WriteBuffer(FData.data(), static_cast<int64_t>(FData.size()));
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TMemoryStream::SaveToFile(const std::string& FileName) {
  TFileStream f(FileName, fmCreate);
  SaveToStream(f);
}

// ---------------------------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : FFileName(FileName) {
  if (Mode == fmCreate || (Mode & 0xFF00) == fmCreate) {
    FHandle = open(FileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (FHandle < 0)
      throw EFCreateError(Format("Cannot create file \"%s\". %s", {FileName, std::string(std::strerror(errno))}));
    return;
  }
  int access = Mode & 3;
  int flags = access == fmOpenWrite ? O_WRONLY : access == fmOpenReadWrite ? O_RDWR : O_RDONLY;
  FHandle = open(FileName.c_str(), flags | O_CLOEXEC);
  int err = errno;
  if (FHandle >= 0) {
    // A folder opens for reading on this system but is not a file.
    struct stat st;
    if (fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(FHandle);
      FHandle = -1;
      err = EISDIR;
    }
  }
  if (FHandle < 0)
    throw EFOpenError(Format("Cannot open file \"%s\". %s", {FileName, std::string(std::strerror(err))}));
}

TFileStream::~TFileStream() {
  if (FHandle >= 0) close(FHandle);
}

int64_t TFileStream::Read(void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  for (;;) {
    ssize_t n = read(FHandle, Buffer, static_cast<size_t>(Count));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Write(const void* Buffer, int64_t Count) {
  if (Count <= 0) return 0;
  for (;;) {
    ssize_t n = write(FHandle, Buffer, static_cast<size_t>(Count));
    if (n < 0 && errno == EINTR) continue;
    return n < 0 ? 0 : n;
  }
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == soBeginning ? SEEK_SET : Origin == soCurrent ? SEEK_CUR : SEEK_END;
  off_t r = lseek(FHandle, static_cast<off_t>(Offset), whence);
  if (r < 0) throw EStreamError("Invalid stream position");
  return r;
}

void TFileStream::SetSize(int64_t NewSize) {
  if (NewSize < 0 || ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0)
    throw EStreamError(Format("Cannot set size of file \"%s\"", {FFileName}));
  if (GetPosition() > NewSize) SetPosition(NewSize);
}
