#include "memops/CImageLoader.h"

#include <mutex>
#include <thread>

#include "platform/Event.h"

namespace memops {

CImageLoader::~CImageLoader() {
    image_.Close();
}

bool CImageLoader::Open(const std::string& fileName, int alignment, uint8_t fill) {
    if (fileName.empty())
        return false;
    fileName_ = fileName;
    fill_ = fill;
    if (image_.Open(fileName.c_str(), alignment) != 0) {
        Close();
        return false;
    }
    stop_ = false;
    return true;
}

void CImageLoader::Close() {
    if (view_)
        view_->Close();
    image_.Close();
}

void CImageLoader::Cancel() {
    stop_ = true;
}

void CImageLoader::PostProgress(uint32_t bytesDone, uint32_t address) {
    if (view_)
        view_->Progress(bytesDone, address);
}

bool CImageLoader::IsCancelled() const {
    return view_ ? view_->IsCancelled() : false;
}

int CImageLoader::Run(void* params) {
    params_ = params;
    result_ = 0;
    uint32_t total;
    std::string header;
    {
        std::lock_guard lock(image_.Mutex());
        total = image_.TotalLength();
        header = image_.Header();
    }
    if (view_) {
        view_->SetCancelHook([this] { Cancel(); });
        view_->Show(title_, fileName_, header, total);
    }
    platform::Event finished(platform::Event::Reset::Manual);
    int result = 0;
    std::thread worker([&] {
        result = Transfer(params);
        finished.Set();
        if (view_)
            view_->Close();
    });
    if (view_)
        view_->RunUntil(finished);
    worker.join();  // the view returns once finished is set; the worker is ending
    if (view_)
        view_->SetCancelHook(nullptr);
    result_ = result;
    return result_;
}

}  // namespace memops
