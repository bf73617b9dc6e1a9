#pragma once
// TMediaType: owns one media type record with its format block (from the
// task allocator) and one reference on its interface, when it has one.
#include "platform/MediaTypes.h"

class TMediaType {
  public:
    // An empty record (no format block, no reference).
    TMediaType();
    // A deep copy of record.
    explicit TMediaType(const AM_MEDIA_TYPE& record);
    TMediaType(const TMediaType& other);
    TMediaType& operator=(const TMediaType& other);
    ~TMediaType();

    // Releases the own block and reference, then deep-copies other's record;
    // nothing when other is this object.
    void Assign(const TMediaType& other);

    AM_MEDIA_TYPE& MediaTypeRecord() noexcept { return record_; }
    const AM_MEDIA_TYPE& MediaTypeRecord() const noexcept { return record_; }

  private:
    AM_MEDIA_TYPE record_;
};

// Deep copy of a record into dest (which must not be source; its old content
// is not released). A format block size without a block is a programming
// error (EAssertionFailed); a block that cannot be allocated leaves dest
// without one.
void CopyMediaTypeRecord(AM_MEDIA_TYPE& dest, const AM_MEDIA_TYPE& source);
// Frees the format block and releases the reference; the record stays.
void ReleaseMediaTypeRecord(AM_MEDIA_TYPE& record);
