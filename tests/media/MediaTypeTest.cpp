#include "FakeFilter.h"
#include "FakeMediaTypes.h"
#include "media/EnumMediaType.h"
#include "media/MediaErrors.h"

#include <gtest/gtest.h>

namespace {

class Counted final : public TComObject<IUnknown> {};

ULONG RefCount(IUnknown* p) {
    p->AddRef();
    return p->Release();
}

TEST(TMediaType, DeepCopyOwnsItsBlockAndOneReference) {
    auto unk = MakeComObject<Counted>();
    auto block = BitmapBlock(kVideoInfoBitmapOffset, BI_RGB, 160, 120, 24);
    AM_MEDIA_TYPE source = RecordOver(MEDIATYPE_Video, MEDIASUBTYPE_RGB24, FORMAT_VideoInfo, block);
    source.pUnk = unk.Get();
    ASSERT_EQ(RefCount(unk.Get()), 1u);
    {
        TMediaType a(source);
        EXPECT_EQ(RefCount(unk.Get()), 2u);
        const AM_MEDIA_TYPE& ra = a.MediaTypeRecord();
        ASSERT_NE(ra.pbFormat, source.pbFormat);
        ASSERT_EQ(ra.cbFormat, block.size());
        EXPECT_EQ(0, std::memcmp(ra.pbFormat, block.data(), block.size()));

        TMediaType b = a; // copy of a copy: its own block, one more reference
        EXPECT_NE(b.MediaTypeRecord().pbFormat, ra.pbFormat);
        EXPECT_EQ(RefCount(unk.Get()), 3u);

        // Assign releases the old contents first, and assigning to itself changes nothing.
        TMediaType c(AudioType(8000, 8, 1));
        c.Assign(a);
        EXPECT_EQ(RefCount(unk.Get()), 4u);
        EXPECT_EQ(c.MediaTypeRecord().subtype, MEDIASUBTYPE_RGB24);
        c.Assign(c);
        EXPECT_EQ(RefCount(unk.Get()), 4u);
        EXPECT_EQ(c.MediaTypeRecord().cbFormat, block.size());
    }
    EXPECT_EQ(RefCount(unk.Get()), 1u); // each copy released exactly its one reference
}

TEST(TMediaType, SizeWithoutBlockIsAProgrammingError) {
    AM_MEDIA_TYPE bad{};
    bad.cbFormat = 88;
    EXPECT_THROW(TMediaType{bad}, EAssertionFailed);
    // A block pointer without a size is not shared with the copy.
    uint8_t stray[4] = {};
    AM_MEDIA_TYPE loose{};
    loose.pbFormat = stray;
    TMediaType t(loose);
    EXPECT_EQ(t.MediaTypeRecord().pbFormat, nullptr);
    EXPECT_EQ(t.MediaTypeRecord().cbFormat, 0u);
}

ComPtr<FakePin> PinWith(int formats) {
    std::vector<TMediaType> types;
    for (int i = 0; i < formats; ++i)
        types.push_back(VideoType(MEDIASUBTYPE_YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 160 * (i + 1),
                                  120 * (i + 1), 16));
    return MakeComObject<FakePin>("Capture", PINDIR_OUTPUT, std::move(types));
}

TEST(TEnumMediaType, RefillingKeepsOnlyTheLastPinsFormats) {
    TEnumMediaType list;
    list.AssignPin(PinWith(5).Get());
    EXPECT_EQ(list.Count(), 5);
    list.AssignPin(PinWith(3).Get()); // the pins are gone after this line; the copies stay
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.FormatText(2),
              "Major Type: Video - Sub Type: YUY2 Format: VideoInfo YUY2 480X360, 16 bits");
    EXPECT_EQ(list.MediaTypeAt(0).MediaTypeRecord().cbFormat,
              kVideoInfoBitmapOffset + sizeof(BITMAPINFOHEADER));
}

TEST(TEnumMediaType, OutOfRangeIndices) {
    TEnumMediaType list;
    list.AssignPin(PinWith(3).Get());
    EXPECT_EQ(list.FormatText(list.Count()), "");
    EXPECT_EQ(list.FormatText(-1), "");
    try {
        list.MediaTypeAt(list.Count());
        FAIL() << "no list index error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (3)");
        EXPECT_EQ(e.Index(), 3);
    }
    EXPECT_THROW(list.MediaTypeAt(-1), EListError);
}

TEST(TEnumMediaType, APinThatCannotEnumerateGivesNothing) {
    TEnumMediaType list;
    list.AssignPin(PinWith(2).Get());
    auto pin = PinWith(4);
    pin->enumResult = E_FAIL;
    list.AssignPin(pin.Get());
    EXPECT_EQ(list.Count(), 0);
    pin->enumResult = S_FALSE; // only S_OK counts
    list.AssignPin(pin.Get());
    EXPECT_EQ(list.Count(), 0);
    try {
        list.AssignPin(nullptr);
        FAIL() << "no assertion";
    } catch (const EAssertionFailed& e) {
        EXPECT_EQ(e.Message(), "IPin not assigned");
    }
}

} // namespace
