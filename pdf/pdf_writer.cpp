// PdfWriter: the file's text around the objects, and the save under a temporary name.
#include "pdf/pdf_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <system_error>

#include "common/atomic_file.h"
#include "pdf/object_writer.h"
#include "pdf/pdf_error.h"

namespace brevis {
namespace {

std::string SystemReason(const std::string& what, const std::string& path, int error) {
  return what + " \"" + path + "\": " + std::strerror(error);
}

}  // namespace

void PdfWriter::Write(Stream& stream) const {
  ObjectWriter writer(stream);
  const int64_t start = stream.Position();
  writer.Write("%PDF-1.4\n%tMwK\n");
  const int32_t count = writer.Renumber(objects_);

  std::vector<int64_t> offsets;
  offsets.reserve(static_cast<std::size_t>(count));
  for (const auto& object : objects_) {
    if (object->IsDeleted()) continue;
    offsets.push_back(stream.Position() - start);
    writer.WriteObject(*object, false);
  }

  const int64_t xref = stream.Position() - start;
  writer.Write("xref\r\n0 " + std::to_string(count + 1) + "\r\n0000000000 65535 f\r\n");
  for (const int64_t offset : offsets) {
    char entry[32];
    std::snprintf(entry, sizeof entry, "%010lld 00000 n\r\n", static_cast<long long>(offset));
    writer.Write(entry);
  }
  writer.Write("trailer\r\n<<\r\n/Size " + std::to_string(count + 1) + "\r\n");
  writer.Write("/Root " + std::to_string(writer.NewNumber(root_)) + " 0 R\r\n");
  writer.Write("/Info " + std::to_string(writer.NewNumber(info_)) + " 0 R\r\n");
  writer.Write(">>\r\nstartxref\r\n" + std::to_string(xref) + "\r\n%%EOF\r\n");
}

void PdfWriter::SaveToFile(const std::string& path) const {
  std::optional<TemporaryFile> temporary;
  try {
    temporary.emplace(path);
  } catch (const std::system_error& error) {
    throw PdfError(SystemReason("Cannot create file", path, error.code().value()));
  }
  try {
    {
      FileStream file(temporary->Name(), FileStream::fmCreate);
      Write(file);
      file.Flush();
    }
    temporary->Commit();
  } catch (const PdfError&) {
    throw;
  } catch (const std::system_error& error) {
    throw PdfError(SystemReason("Cannot write file", path, error.code().value()));
  } catch (const std::runtime_error& error) {
    // The file stream names the temporary file; report the file the caller asked for.
    std::string message = error.what();
    const std::size_t at = message.find(temporary->Name());
    if (at != std::string::npos) message.replace(at, temporary->Name().size(), path);
    throw PdfError(message);
  }
}

}  // namespace brevis
