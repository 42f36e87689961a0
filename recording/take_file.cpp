#include "recording/take_file.h"

#include <fstream>

#include "recording/wav_writer.h"

namespace {

std::unique_ptr<std::ostream> openFile(const std::filesystem::path& path) {
    auto file = std::make_unique<std::ofstream>(path, std::ios::binary | std::ios::trunc);
    if (!file->is_open()) return nullptr;
    return file;
}

}  // namespace

std::unique_ptr<std::ostream> (*openTakeFile)(const std::filesystem::path& path) = openFile;

TakeFile::TakeFile(std::unique_ptr<std::ostream> file, uint32_t sampleRate, int channels)
    : file_(std::move(file)), sampleRate_(sampleRate), channels_(channels) {
    failed_ = file_ == nullptr;
    writeHeader();
}

void TakeFile::writeHeader() {
    if (failed_) return;
    // The header goes first and is rewritten in place; the samples always
    // follow what is already there, so no byte is written twice.
    file_->seekp(0);
    writeWavHeader(*file_, static_cast<int32_t>(sampleRate_), 16, channels_, written_ * sizeof(int16_t));
    file_->seekp(0, std::ios::end);
    // Flushing is where a full disk shows up at the latest.
    file_->flush();
    failed_ = file_->fail();
}

bool TakeFile::update(const Take& take) {
    if (failed_) return false;
    if (take.size() == written_) return true;
    take.forEachBlock(
        [this](const int16_t* samples, size_t count) {
            file_->write(reinterpret_cast<const char*>(samples),
                         static_cast<std::streamsize>(count * sizeof(int16_t)));
        },
        written_);
    if (file_->fail()) return failed_ = true, false;
    written_ = take.size();
    writeHeader();
    return !failed_;
}

bool TakeFile::finish(const Take& take) {
    if (!update(take)) return false;
    if (auto* onDisk = dynamic_cast<std::ofstream*>(file_.get())) {
        onDisk->close();
        failed_ = onDisk->fail();
    }
    return !failed_;
}
