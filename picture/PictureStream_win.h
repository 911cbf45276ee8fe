#pragma once
// How the helper reads an open picture file: the header readers through
// FileSource, the decoders through SourceStream. Every read names its offset,
// so no reader moves another's place: the handle's file pointer is set right
// before each read and nobody relies on where it was left.
#include "picture/ByteReader.h"

#include <windows.h>
#include <objidl.h>

#include <atomic>
#include <cstdint>

namespace lumora {

// The header readers' view of an open file: reads at an offset, no mapping.
class FileSource final : public ByteSource {
public:
    explicit FileSource(HANDLE file);
    std::uint64_t Size() const override { return size_; }
    std::size_t ReadAt(std::uint64_t offset, std::span<std::uint8_t> out) const override;

private:
    HANDLE file_;
    std::uint64_t size_ = 0;
};

// The decoders' stream over a source, read on demand: a mapped view of the
// whole file (what the imaging component offers for a handle) would put all
// of it into memory at once. It keeps its own 64-bit position. Created with
// one reference; the source must outlive every holder of the stream.
class SourceStream final : public IStream {
public:
    explicit SourceStream(const ByteSource& source) : source_(source) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG size, ULONG* read) override;
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD) override;
    // Read-only and not shared.
    HRESULT STDMETHODCALLTYPE Write(const void*, ULONG, ULONG*) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return STG_E_ACCESSDENIED; }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Revert() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** out) override {
        if (out) *out = nullptr;
        return E_NOTIMPL;
    }

private:
    ~SourceStream() = default;

    const ByteSource& source_;
    std::uint64_t position_ = 0;
    std::atomic<ULONG> references_{1};
};

}  // namespace lumora
