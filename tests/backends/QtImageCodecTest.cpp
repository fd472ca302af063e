#include "backends/linux/QtImageCodec.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>

#include <zlib.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

namespace quenlit::linux_backend {
namespace {

using quenlit::testing::TempDir;
using quenlit::testing::writeFile;

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::string encode(const QImage& image, const char* format, int quality = -1) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    EXPECT_TRUE(writer.write(image)) << format << ": " << writer.errorString().toStdString();
    return bytes.toStdString();
}

QImage decode(const std::string& bytes) {
    return QImage::fromData(QByteArray::fromStdString(bytes)).convertToFormat(QImage::Format_ARGB32);
}

QImage solid(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

// Inserts an EXIF segment holding only an orientation tag right after the JPEG's start marker.
std::string withExifOrientation(const std::string& jpeg, std::uint16_t orientation) {
    std::string tiff("MM\x00\x2a\x00\x00\x00\x08", 8);           // big-endian header, first IFD at 8
    tiff += std::string("\x00\x01", 2);                          // one entry
    tiff += std::string("\x01\x12\x00\x03\x00\x00\x00\x01", 8);  // Orientation, SHORT, count 1
    tiff += static_cast<char>(orientation >> 8);
    tiff += static_cast<char>(orientation & 0xff);
    tiff += std::string("\x00\x00\x00\x00\x00\x00", 6);  // padding, no next IFD
    const std::string payload = std::string("Exif\0\0", 6) + tiff;
    const std::size_t length = payload.size() + 2;
    std::string segment("\xff\xe1", 2);
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xff);
    segment += payload;
    EXPECT_EQ(jpeg.substr(0, 2), std::string("\xff\xd8", 2));
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

// A GIF89a of 1 × 1 pixels with two frames, red then blue, each one literal code of the
// 4-colour table between a clear code and an end code.
std::string animatedGif() {
    std::string gif("GIF89a\x01\x00\x01\x00\xf1\x00\x00", 13);
    gif += std::string("\xff\x00\x00\x00\x00\xff\x00\xff\x00\x00\x00\x00", 12);  // red, blue, green, black
    gif += std::string("\x21\xff\x0bNETSCAPE2.0\x03\x01\x00\x00\x00", 19);       // loop for ever
    for (char code : {'\x44', '\x4c'}) {                                         // index 0, then index 1
        gif += std::string("\x21\xf9\x04\x00\x0a\x00\x00\x00", 8);               // 0.1 s per frame
        gif += std::string("\x2c\x00\x00\x00\x00\x01\x00\x01\x00\x00", 10);
        gif += std::string("\x02\x02", 2) + code + std::string("\x01\x00", 2);
    }
    return gif + "\x3b";
}

QRgb pixelAt(const platform::Bitmap& bitmap, int x, int y) {
    QRgb value;
    std::memcpy(&value, bitmap.pixels->data() + static_cast<std::size_t>(y) * bitmap.bytesPerRow + x * 4, 4);
    return value;
}

// JPEG is lossy: a colour counts when every channel is within a margin of the expected one.
::testing::AssertionResult near(QRgb actual, QColor expected) {
    const int margin = 48;
    if (std::abs(qRed(actual) - expected.red()) <= margin &&
        std::abs(qGreen(actual) - expected.green()) <= margin &&
        std::abs(qBlue(actual) - expected.blue()) <= margin) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "got rgb(" << qRed(actual) << "," << qGreen(actual) << "," << qBlue(actual) << ")";
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

std::string pngChunk(const std::string& kind, const std::string& data) {
    std::string chunk;
    appendBigEndian(chunk, static_cast<std::uint32_t>(data.size()));
    chunk += kind + data;
    const std::string checked = kind + data;
    appendBigEndian(chunk,
                    static_cast<std::uint32_t>(::crc32(0, reinterpret_cast<const Bytef*>(checked.data()),
                                                       static_cast<uInt>(checked.size()))));
    return chunk;
}

// A well-formed PNG header claiming width × height one-bit pixels, and one row of them: what a
// decompression bomb shows before it is decoded.
std::string pngClaiming(std::uint32_t width, std::uint32_t height) {
    std::string header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header += std::string("\x01\x00\x00\x00\x00", 5);  // 1-bit grey, no interlace
    const std::string row(1 + (width + 7) / 8, '\0');
    std::string packed(compressBound(static_cast<uLong>(row.size())), '\0');
    uLongf packedSize = static_cast<uLongf>(packed.size());
    ::compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
               reinterpret_cast<const Bytef*>(row.data()), static_cast<uLong>(row.size()));
    packed.resize(packedSize);
    return kPngSignature + pngChunk("IHDR", header) + pngChunk("IDAT", packed) + pngChunk("IEND", "");
}

class QtImageCodecTest : public ::testing::Test {
  protected:
    // Stored 80 × 40: the left half red with its upper quarter green, the right half blue. Stored
    // with orientation 6 (turn a quarter clockwise to view), it shows 40 × 80: green top right,
    // red top left, blue below.
    std::string orientedJpeg() {
        QImage image = solid(80, 40, Qt::blue);
        for (int y = 0; y < 40; ++y) {
            for (int x = 0; x < 40; ++x)
                image.setPixelColor(x, y, y < 20 ? Qt::green : Qt::red);
        }
        return withExifOrientation(encode(image, "jpeg", 100), 6);
    }
    void expectUprightPortrait(const platform::Bitmap& bitmap) {
        ASSERT_EQ(bitmap.width, 40);
        ASSERT_EQ(bitmap.height, 80);
        EXPECT_TRUE(near(pixelAt(bitmap, 30, 20), Qt::green));
        EXPECT_TRUE(near(pixelAt(bitmap, 10, 20), Qt::red));
        EXPECT_TRUE(near(pixelAt(bitmap, 20, 60), Qt::blue));
    }

    TempDir dir;
    QtImageCodec codec;
};

TEST_F(QtImageCodecTest, TellsPicturesByNameElseByContent) {
    const std::string png = encode(solid(4, 4, Qt::red), "png");
    const struct {
        const char* name;
        std::optional<std::string> content;  // none: no such file
        bool image;
    } cases[] = {
        {"photo.png", png, true},
        {"photo.JPG", "not a picture at all", true},  // the name says picture
        {"scan.tiff", std::nullopt, true},
        {"picture", png, true},  // no extension: the content decides
        {"notes.txt", png, true},
        {"notes.txt", "plain words\n", false},
        {"data.bin", std::string("\x01\x02\x03\x04 binary", 11), false},
        {"gone.dat", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir here;
        if (c.content) writeFile(here / c.name, *c.content);
        EXPECT_EQ(codec.isImageFile((here / c.name).string()), c.image);
    }
}

TEST_F(QtImageCodecTest, APngFileIsTakenAsItIs) {
    const std::string png = encode(solid(6, 3, Qt::green), "png");
    writeFile(dir / "a.png", png);
    writeFile(dir / "b.PNG", "whatever the file holds");  // the extension decides, in any case
    EXPECT_EQ(codec.pngFromFile((dir / "a.png").string()), png);
    EXPECT_EQ(codec.pngFromFile((dir / "b.PNG").string()), "whatever the file holds");
}

TEST_F(QtImageCodecTest, OtherPicturesAreConvertedAndWhatCannotBeDecodedGivesNothing) {
    writeFile(dir / "photo.jpg", orientedJpeg());
    writeFile(dir / "empty.png", "");
    writeFile(dir / "notes.txt", "plain words\n");

    auto png = codec.pngFromFile((dir / "photo.jpg").string());
    ASSERT_TRUE(png);
    EXPECT_EQ(png->substr(0, 8), kPngSignature);
    // The orientation is applied: the PNG cannot carry the tag.
    EXPECT_EQ(decode(*png).size(), QSize(40, 80));

    EXPECT_EQ(codec.pngFromFile((dir / "empty.png").string()), std::nullopt);
    EXPECT_EQ(codec.pngFromFile((dir / "notes.txt").string()), std::nullopt);
    EXPECT_EQ(codec.pngFromFile((dir / "missing.gif").string()), std::nullopt);
}

TEST_F(QtImageCodecTest, PicturesClaimingOverFortyMegapixelsAreNeverDecoded) {
    const struct {
        std::uint32_t width;
        std::uint32_t height;
        bool kept;
    } cases[] = {
        {30000, 30000, false},  // 900 megapixels in a few kilobytes
        {65536, 32768, false},  // 2^31 pixels
        {8000, 5000, true},     // 40 megapixels exactly
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        const std::string png = pngClaiming(c.width, c.height);
        const auto size = codec.pictureSize(png);
        ASSERT_TRUE(size);
        EXPECT_EQ(size->width, static_cast<int>(c.width));
        EXPECT_EQ(size->height, static_cast<int>(c.height));
        writeFile(dir / "claim.png", png);
        writeFile(dir / "claim.tiff", png);  // the content decides, whatever the name
        EXPECT_EQ(codec.pngFromFile((dir / "claim.png").string()).has_value(), c.kept);
        if (!c.kept) {
            EXPECT_EQ(codec.pngFromFile((dir / "claim.tiff").string()), std::nullopt);
            EXPECT_EQ(codec.pngFromTiff(png), std::nullopt);
            EXPECT_EQ(codec.downsample((dir / "claim.png").string(), 128), std::nullopt);
        }
    }
}

TEST_F(QtImageCodecTest, NamedPipesAreNeverOpenedAndHugeFilesNeverRead) {
    const std::filesystem::path pipe = dir / "pipe";
    const std::filesystem::path picturePipe = dir / "pipe.png";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(picturePipe.c_str(), 0600), 0);
    // One byte over the largest picture kept, all of it but the header a hole in the file.
    const std::filesystem::path huge = dir / "huge.png";
    writeFile(huge, encode(solid(4, 4, Qt::red), "png"));
    std::filesystem::resize_file(huge, (128u << 20) + 1);

    // Should a pipe be opened after all, a writer comes along after a while and ends the wait, so a
    // failure shows as a slow call instead of a test that never ends.
    std::atomic<bool> finished = false;
    std::thread rescuer([&] {
        for (int i = 0; i < 300 && !finished; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (!finished) {
            for (const auto& p : {pipe, picturePipe}) {
                const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const auto timed = [](auto call) {
        const auto started = std::chrono::steady_clock::now();
        call();
        return std::chrono::steady_clock::now() - started;
    };
    const auto limit = std::chrono::milliseconds(1000);
    EXPECT_LT(timed([&] { EXPECT_FALSE(codec.isImageFile(pipe.string())); }), limit);
    // A picture by its name, which needs no opening.
    EXPECT_LT(timed([&] { codec.isImageFile(picturePipe.string()); }), limit);
    EXPECT_LT(timed([&] { EXPECT_EQ(codec.pngFromFile(picturePipe.string()), std::nullopt); }), limit);
    EXPECT_LT(timed([&] { EXPECT_EQ(codec.downsample(picturePipe.string(), 64), std::nullopt); }), limit);
    EXPECT_EQ(codec.pngFromFile(huge.string()), std::nullopt);
    finished = true;
    rescuer.join();
}

TEST_F(QtImageCodecTest, TiffConvertsToPngWithEveryPixelKept) {
    QImage image(3, 2, QImage::Format_ARGB32);
    const QRgb colours[] = {0xffff0000, 0xff00ff00, 0xff0000ff, 0xff102030, 0xfffefdfc, 0xff000000};
    for (int i = 0; i < 6; ++i)
        image.setPixel(i % 3, i / 3, colours[i]);
    const std::string tiff = encode(image, "tiff");
    ASSERT_TRUE(tiff.substr(0, 4) == std::string("II*\0", 4) || tiff.substr(0, 4) == std::string("MM\0*", 4));

    auto png = codec.pngFromTiff(tiff);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->substr(0, 8), kPngSignature);
    EXPECT_EQ(decode(*png), image);

    writeFile(dir / "scan.tif", tiff);
    auto fromFile = codec.pngFromFile((dir / "scan.tif").string());
    ASSERT_TRUE(fromFile);
    EXPECT_EQ(decode(*fromFile), image);

    EXPECT_EQ(codec.pngFromTiff(""), std::nullopt);
    EXPECT_EQ(codec.pngFromTiff(std::string("II*\0 broken", 11)), std::nullopt);

    // The clipboard's other raster images take the same way, each decoded by its content.
    for (const char* format : {"bmp", "jpeg", "webp"}) {
        auto converted = codec.pngFromTiff(encode(image, format));
        ASSERT_TRUE(converted) << format;
        EXPECT_EQ(decode(*converted).size(), image.size()) << format;
    }
}

TEST_F(QtImageCodecTest, OnlyTheFirstImageOfAnAnimationIsKept) {
    writeFile(dir / "anim.gif", animatedGif());
    QImageReader reader(QString::fromStdString((dir / "anim.gif").string()));
    ASSERT_EQ(reader.imageCount(), 2);  // the picture really holds two frames

    auto png = codec.pngFromFile((dir / "anim.gif").string());
    ASSERT_TRUE(png);
    const QImage converted = decode(*png);
    ASSERT_EQ(converted.size(), QSize(1, 1));
    EXPECT_EQ(converted.pixel(0, 0), 0xffff0000);

    auto bitmap = codec.downsample((dir / "anim.gif").string(), 64);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(pixelAt(*bitmap, 0, 0), 0xffff0000);
}

TEST_F(QtImageCodecTest, DownsamplesToTheLargestSideWithoutEnlarging) {
    writeFile(dir / "wide.png", encode(solid(30, 20, Qt::red), "png"));
    const struct {
        int maxPixel;
        int width, height;
    } cases[] = {{100, 30, 20}, {30, 30, 20}, {15, 15, 10}, {3, 3, 2}, {1, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxPixel);
        auto bitmap = codec.downsample((dir / "wide.png").string(), c.maxPixel);
        ASSERT_TRUE(bitmap);
        EXPECT_EQ(bitmap->width, c.width);
        EXPECT_EQ(bitmap->height, c.height);
        EXPECT_EQ(bitmap->bytesPerRow, c.width * 4);
        EXPECT_EQ(bitmap->pixels->size(), bitmap->cost());
    }
}

TEST_F(QtImageCodecTest, BitmapsHoldPremultipliedPixels) {
    writeFile(dir / "glass.png", encode(solid(4, 4, QColor(255, 0, 0, 128)), "png"));
    auto bitmap = codec.downsample((dir / "glass.png").string(), 4);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(pixelAt(*bitmap, 2, 2), qPremultiply(qRgba(255, 0, 0, 128)));
}

TEST_F(QtImageCodecTest, APortraitPhotoComesOutUpright) {
    writeFile(dir / "portrait.jpg", orientedJpeg());
    auto full = codec.downsample((dir / "portrait.jpg").string(), 200);
    ASSERT_TRUE(full);
    expectUprightPortrait(*full);

    auto small = codec.downsample((dir / "portrait.jpg").string(), 20);
    ASSERT_TRUE(small);
    EXPECT_EQ(small->width, 10);
    EXPECT_EQ(small->height, 20);
    EXPECT_TRUE(near(pixelAt(*small, 2, 2), Qt::red));
    EXPECT_TRUE(near(pixelAt(*small, 5, 16), Qt::blue));
}

TEST_F(QtImageCodecTest, WhatCannotBeDecodedGivesNoBitmap) {
    writeFile(dir / "notes.txt", "plain words\n");
    writeFile(dir / "fake.png", "plain words\n");
    writeFile(dir / "ok.png", encode(solid(4, 4, Qt::red), "png"));
    EXPECT_EQ(codec.downsample((dir / "notes.txt").string(), 64), std::nullopt);
    EXPECT_EQ(codec.downsample((dir / "fake.png").string(), 64), std::nullopt);
    EXPECT_EQ(codec.downsample((dir / "missing.png").string(), 64), std::nullopt);
    EXPECT_EQ(codec.downsample((dir / "ok.png").string(), 0), std::nullopt);
}

// Thumbnails and captures decode on background tasks, several at once.
TEST_F(QtImageCodecTest, DecodesOnSeveralThreadsAtOnce) {
    writeFile(dir / "portrait.jpg", orientedJpeg());
    QImage image = solid(3, 2, Qt::green);
    const std::string tiff = encode(image, "tiff");
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            QtImageCodec own;
            for (int i = 0; i < 10; ++i) {
                auto bitmap = own.downsample((dir / "portrait.jpg").string(), 200);
                auto png = own.pngFromTiff(tiff);
                if (bitmap && bitmap->width == 40 && bitmap->height == 80 && png && decode(*png) == image) {
                    ++good[t];
                }
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(good, std::vector<int>(4, 10));
}

}  // namespace
}  // namespace quenlit::linux_backend
