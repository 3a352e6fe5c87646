#pragma once
// Base of the memory transfer: owns the memory image and the settings that outlive one load
// (bias, compress flag), and runs the derived class's Transfer on a worker thread while the
// progress view stays live.

#include <atomic>
#include <cstdint>
#include <string>

#include "memops/ProgressView.h"
#include "srecord/S_Record.h"

namespace memops {

class CImageLoader {
  public:
    CImageLoader() = default;
    virtual ~CImageLoader();
    CImageLoader(const CImageLoader&) = delete;
    CImageLoader& operator=(const CImageLoader&) = delete;

    // Runs on the worker thread; returns the result handed back by Run.
    virtual int Transfer(void* params) = 0;
    // Opens the image with the alignment; fill is the byte gaps and padding are filled with.
    // False without action for an empty name; false (image closed) when the file is refused.
    virtual bool Open(const std::string& fileName, int alignment, uint8_t fill);
    virtual void Close();
    virtual int Run(void* params);
    virtual void Cancel();
    virtual void PostProgress(uint32_t bytesDone, uint32_t address);
    virtual bool IsCancelled() const;

    void SetProgressView(ProgressView* view) { view_ = view; }
    void SetTitle(const std::string& title) { title_ = title; }
    const std::string& Title() const { return title_; }
    const std::string& FileName() const { return fileName_; }
    void SetBias(uint32_t bias) { bias_ = bias; }
    uint32_t Bias() const { return bias_; }
    void SetCompress(bool on) { compress_ = on; }
    bool Compress() const { return compress_; }
    uint8_t Fill() const { return fill_; }
    bool Stopped() const { return stop_.load(); }
    srecord::S_Record& Image() { return image_; }

  protected:
    ProgressView* view_ = nullptr;
    std::string fileName_;
    std::string title_;
    std::atomic<bool> stop_{true};
    int result_ = 0;
    uint32_t bias_ = 0;
    srecord::S_Record image_;
    void* params_ = nullptr;
    bool compress_ = false;
    uint8_t fill_ = 0xFF;
};

}  // namespace memops
