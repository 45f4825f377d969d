// Growable byte buffers used for receive buffers, PCM queues and packet lists.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace support {

// A growable byte buffer with a read position at the front: data can be
// appended at the back and taken or erased from the front cheaply.
class MyBuffer {
public:
    MyBuffer() = default;
    // Empty, with at least `capacity` bytes reserved. `reserved` is always null.
    explicit MyBuffer(size_t capacity, void* reserved = nullptr);
    // Holding a copy of `len` bytes at `data`.
    MyBuffer(const void* data, size_t len, void* reserved = nullptr);

    // Appends `len` bytes; returns a pointer to the first byte of the buffer.
    uint8_t* appendBuffer(const void* data, size_t len);
    // Pointer to the first held byte (valid until the next modifying call).
    uint8_t* getBuffer();
    const uint8_t* getBuffer() const;
    // Makes room for at least `size` bytes in total and returns the data pointer;
    // the length becomes `size` (contents of the new room are undefined). Used
    // to receive directly into the buffer.
    uint8_t* getBuffer(size_t size);
    size_t getLen() const;
    size_t capacity() const;
    // Length 0, capacity kept.
    void resetBuffer();
    // Moves up to `len` bytes from the front into `dest`, removes them, returns the count.
    size_t takeData(void* dest, size_t len);
    // Removes up to `len` bytes from the front.
    void eraseData(size_t len);

private:
    void compact();
    std::vector<uint8_t> bytes_;
    size_t head_ = 0;  // index of the first held byte in bytes_
};

// First-in first-out list of owned buffers.
class MyBufferList {
public:
    void push(std::unique_ptr<MyBuffer> buffer);
    // The oldest buffer, or null when the list is empty.
    std::unique_ptr<MyBuffer> pop();
    void clear();
    size_t size() const { return list_.size(); }

private:
    std::deque<std::unique_ptr<MyBuffer>> list_;
};

}  // namespace support
