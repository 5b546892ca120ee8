#include "guess/formats/Containers.h"

#include "guess/formats/Dicom.h"

namespace guess {

TContainerReading ReadContainers(TByteSource& Source) {
  using TReader = TContainerReading (*)(TByteSource&);
  // Each reader checks its own magic first, so the order only matters for a
  // file that carries two: the outer one goes first.
  const TReader readers[] = {
      ReadDicom,
  };
  for (TReader reader : readers) {
    if (reader == nullptr)
      continue;
    TContainerReading reading = reader(Source);
    if (!reading.Format.empty())
      return reading;
  }
  return {};
}

} // namespace guess
