#include "support/buffer.h"

#include <algorithm>
#include <cstring>

namespace support {

MyBuffer::MyBuffer(size_t capacity, void*) { bytes_.reserve(capacity); }

MyBuffer::MyBuffer(const void* data, size_t len, void*) { appendBuffer(data, len); }

uint8_t* MyBuffer::appendBuffer(const void* data, size_t len) {
    if (len == 0 || data == nullptr) {
        return getBuffer();
    }
    const auto* src = static_cast<const uint8_t*>(data);
    // Appending from our own storage would read from memory that a reallocation frees.
    if (!bytes_.empty() && src >= bytes_.data() && src < bytes_.data() + bytes_.size()) {
        std::vector<uint8_t> copy(src, src + len);
        return appendBuffer(copy.data(), copy.size());
    }
    // Reuse the space in front of the head before the vector grows.
    if (head_ > 0 && bytes_.size() + len > bytes_.capacity()) {
        compact();
    }
    bytes_.insert(bytes_.end(), src, src + len);
    return getBuffer();
}

uint8_t* MyBuffer::getBuffer() { return bytes_.data() + head_; }

const uint8_t* MyBuffer::getBuffer() const { return bytes_.data() + head_; }

uint8_t* MyBuffer::getBuffer(size_t size) {
    compact();
    bytes_.resize(size);
    return bytes_.data();
}

size_t MyBuffer::getLen() const { return bytes_.size() - head_; }

size_t MyBuffer::capacity() const { return bytes_.capacity(); }

void MyBuffer::resetBuffer() {
    bytes_.clear();
    head_ = 0;
}

size_t MyBuffer::takeData(void* dest, size_t len) {
    if (dest == nullptr) {
        return 0;  // nowhere to move the bytes to: keep them
    }
    const size_t n = std::min(len, getLen());
    if (n > 0) {
        std::memcpy(dest, getBuffer(), n);
    }
    eraseData(n);
    return n;
}

void MyBuffer::eraseData(size_t len) {
    head_ += std::min(len, getLen());
    if (head_ == bytes_.size()) {
        resetBuffer();
    }
}

void MyBuffer::compact() {
    if (head_ == 0) {
        return;
    }
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
    head_ = 0;
}

void MyBufferList::push(std::unique_ptr<MyBuffer> buffer) {
    if (buffer) {
        list_.push_back(std::move(buffer));
    }
}

std::unique_ptr<MyBuffer> MyBufferList::pop() {
    if (list_.empty()) {
        return nullptr;
    }
    auto front = std::move(list_.front());
    list_.pop_front();
    return front;
}

void MyBufferList::clear() { list_.clear(); }

}  // namespace support
