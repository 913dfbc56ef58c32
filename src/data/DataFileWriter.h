#pragma once
// The data file of one saved measurement: its name and folder, its three
// blocks and the two packed waves. The document calls these on the
// user-interface thread right after a result has been decoded.
//
// File layout (little-endian throughout):
//   0     128 bytes  identification: date, time, the five animal texts, result bytes 15 and 16
//   128   800 bytes  result: SBP, DBP, MBP (half units, twice), markers, result word 6
//   928   128 bytes  pulse marks: the 50 words of the list, then 28 zero bytes
//   1056  L1 bytes   packed pressure ring
//   ...   L2 bytes   packed wave ring        (packing: data/WavePacking.h)

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "app/MessagePort.h"
#include "base/Ring.h"
#include "data/MeasurementResult.h"
#include "settings/Preference.h"

namespace hx {

constexpr std::size_t kIdentificationBlockSize = 128;
constexpr std::size_t kResultBlockSize = 800;
constexpr std::size_t kPulseMarkBlockSize = 128;
constexpr std::size_t kDataFileHeaderSize = kIdentificationBlockSize + kResultBlockSize + kPulseMarkBlockSize;

// Byte positions inside the blocks, shared by the writer and the reader.
namespace datafile {
constexpr std::size_t kDate = 0, kTime = 8;
constexpr std::size_t kAnimalNo = 16, kStudyNo = 24, kWeight = 32, kSexAge = 40, kComment = 48;
constexpr std::size_t kShortTextSize = 8, kCommentSize = 32;
constexpr std::size_t kResultByte15 = 96, kResultByte16 = 105;
constexpr std::size_t kResultBlock = kIdentificationBlockSize;
constexpr std::size_t kSbp = 0, kDbp = 2, kMbp = 4, kFirstMarker = 62, kSecondMarker = 64;
constexpr std::size_t kSbpAgain = 720, kDbpAgain = 722, kMbpAgain = 724, kResultWord6 = 760;
constexpr std::size_t kNine = 778, kFirstMarkerAgain = 782, kSecondMarkerAgain = 784;
constexpr std::size_t kPulseMarkBlock = kIdentificationBlockSize + kResultBlockSize;
}  // namespace datafile

// Caption and text of the message shown when a data file cannot be written.
constexpr const char* kDataFileErrorCaption = "Halnor40KU";
constexpr const char* kDataFileWriteError = "File Write Error!";

// Everything a data file is made from, taken at the moment of writing.
struct DataFileRequest {
    const MeasurementResult* result = nullptr;
    const Ring* pressureRing = nullptr;  // the live rings (frozen at the result)
    const Ring* waveRing = nullptr;
    AnimalTexts animal;
    std::string dataFolder;  // ends with "/"; the name is appended as it is
    std::int32_t filenameType = 1;
    std::int32_t timerMode = 0;
};

// Last three characters of "0000000" + the animal number trimmed of blanks:
// 12 -> "012", "" -> "000", 1234 -> "234". A "/" or a control character,
// which would lead the name into another folder or make it unusable, becomes "_".
std::string dataFileSuffix(const std::string& animalNo);

// "B" + stamp + "." + suffix (13 characters): the stamp is DDhhmmss of the
// result's date-time text in timer mode or for filename type 1, else MMDDhhmm.
// A missing date-time character or one that cannot stand in a file name is "_".
std::string dataFileName(const DataFileRequest& request);
// The same name with the DDhhmmss stamp whatever the mode, and with "-n"
// before the dot when copy > 1 ("B15093005-2.007").
std::string dayTimeDataFileName(const DataFileRequest& request, int copy = 1);

// Full path of the file to write; empty when the user cancelled the "Free"
// file dialog (asked through port).
std::string buildDataFilePath(const DataFileRequest& request, IMessagePort& port);

// The identification, result and pulse-mark blocks; request.result must be set.
std::array<std::uint8_t, kDataFileHeaderSize> buildDataFileHeader(const DataFileRequest& request);

// The whole file: the three blocks and both packed rings; result and both rings must be set.
std::vector<std::uint8_t> buildDataFileBytes(const DataFileRequest& request);

// 0 written (or no path: nothing written, nothing shown); 1 writing failed and
// "File Write Error!" was shown once; -1 result byte 15 is 0 (nothing
// written; in "Free" mode the dialog has already been shown), or there is no
// result at all. A request without rings is a failure (1).
// Writes through a temporary file in the same folder and renames it into
// place, so a failure never leaves a partial file or damages an older one.
// A data file never replaces an earlier one: when the name is taken (two
// results in one minute, or the unit's clock set back) the file is written
// under dayTimeDataFileName, then with "-2", "-3", ... before the dot; the
// name used goes to the diagnostic log. Only the "Free" form replaces a file,
// after its dialog asked.
// When writtenPath is given it receives the path of a file that was written.
int writeDataFile(const DataFileRequest& request, IMessagePort& port, std::string* writtenPath = nullptr);

// Packs one ring of 4000 samples into its wave block (length, sample 0, codes).
std::vector<std::uint8_t> packWave(std::span<const std::int16_t, kRingSize> ring);

}  // namespace hx
