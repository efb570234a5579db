#include "tools/output_sink.h"

namespace strata::tools {

OutputSink::OutputSink(std::ostream& out)
    : file_(std::make_unique<OutputFile>("-", OutputFile::Use::Stream, out)) {}

OutputSink::OutputSink(std::string path, std::ostream& out)
    : file_(std::make_unique<OutputFile>(std::move(path), OutputFile::Use::Stream, out)) {}

void OutputSink::Flush() {
  file_->Write(buffer_);
  buffer_.clear();
}

void OutputSink::Commit() {
  Flush();
  file_->Commit();
}

}  // namespace strata::tools
