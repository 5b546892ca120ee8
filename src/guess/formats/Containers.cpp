#include "guess/formats/Containers.h"

#include "guess/formats/Dicom.h"
#include "guess/formats/Fits.h"
#include "guess/formats/Hdf5.h"
#include "guess/formats/Mrc.h"
#include "guess/formats/Numpy.h"
#include "guess/formats/Pictures.h"
#include "guess/formats/Tiff.h"

namespace guess {

TContainerReading ReadContainers(TByteSource& Source) {
  using TReader = TContainerReading (*)(TByteSource&);
  // Each reader checks its own magic first, so the order only matters for a
  // file that carries two: the outer one goes first (a DICOM preamble may
  // hold a TIFF header). MRC has no magic in old files, only a header that
  // makes sense, so it comes last.
  const TReader readers[] = {
      ReadDicom, ReadFits, ReadTiff, ReadNumpy, ReadHdf5, ReadPicture, ReadMrc,
  };
  for (TReader reader : readers) {
    TContainerReading reading = reader(Source);
    if (!reading.Format.empty())
      return reading;
  }
  return {};
}

} // namespace guess
