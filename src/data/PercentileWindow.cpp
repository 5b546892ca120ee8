// The intensity window from the 0.5 % and 99.5 % ranks of a view's values.
#include "data/HistogramParts.h"

#include <limits>
#include <vector>

namespace {

using namespace histogram;

// The order of values of every type as the order of unsigned 64-bit keys.
template <typename V> uint64_t OrderKey(V Value) {
  if constexpr (std::is_floating_point_v<V>)
    return KeyOf(Value);
  else if constexpr (std::is_signed_v<V>)
    return static_cast<uint64_t>(Value) ^ (uint64_t{1} << 63);
  else
    return Value;
}
template <typename V> V ValueOfKey(uint64_t Key) {
  if constexpr (std::is_floating_point_v<V>)
    return DoubleOfKey(Key);
  else if constexpr (std::is_signed_v<V>)
    return static_cast<V>(Key ^ (uint64_t{1} << 63));
  else
    return Key;
}

template <typename V> int32_t WindowEnd(V Value, bool Up) {
  constexpr int32_t least = std::numeric_limits<int32_t>::min();
  constexpr int32_t most = std::numeric_limits<int32_t>::max();
  if constexpr (std::is_floating_point_v<V>) {
    const double whole = Up ? std::ceil(Value) : std::floor(Value);
    return whole <= least ? least : whole >= most ? most : static_cast<int32_t>(whole);
  } else if constexpr (std::is_signed_v<V>) {
    return static_cast<int32_t>(std::clamp<int64_t>(Value, least, most));
  } else {
    return static_cast<int32_t>(std::min<uint64_t>(Value, most));
  }
}

// Radix selection of two ranks among the finite values' keys, 16 bits a pass
// from the top: no copy of the view, whatever its size.
template <typename T, typename V>
std::optional<TWindowEnds> SelectWindow(const THistogramSource& Source) {
  constexpr int digitBits = 16;
  constexpr size_t digits = size_t{1} << digitBits;
  struct TTarget {
    int64_t Rank = 0;    // among the keys that share Prefix
    uint64_t Prefix = 0; // the key's bits found so far
  };
  std::array<TTarget, 2> targets{};
  std::vector<int64_t> counts(2 * digits);
  for (int shift = 64 - digitBits; shift >= 0; shift -= digitBits) {
    std::fill(counts.begin(), counts.end(), 0);
    const int above = 64 - shift - digitBits; // bits already decided
    ForEachBlock<T, V>(Source, [&](const V* Values, int32_t Count) {
      for (int32_t i = 0; i < Count; ++i) {
        if constexpr (std::is_floating_point_v<V>)
          if (!(std::fabs(Values[i]) < HUGE_VAL))
            continue;
        const uint64_t key = OrderKey(Values[i]);
        const size_t digit = (key >> shift) & (digits - 1);
        for (size_t t = 0; t < (above == 0 ? 1u : 2u); ++t)
          if (above == 0 || (key >> (shift + digitBits)) == targets[t].Prefix)
            ++counts[t * digits + digit];
      }
    });
    if (above == 0) {
      int64_t finite = 0;
      for (size_t d = 0; d < digits; ++d)
        finite += counts[d];
      if (finite == 0)
        return std::nullopt;
      targets[0].Rank = finite / 200;
      targets[1].Rank = finite - 1 - finite / 200;
    }
    for (size_t t = 0; t < 2; ++t) {
      const int64_t* count = counts.data() + (above == 0 ? 0 : t * digits);
      size_t d = 0;
      while (targets[t].Rank >= count[d])
        targets[t].Rank -= count[d++];
      targets[t].Prefix = targets[t].Prefix << digitBits | d;
    }
  }
  return TWindowEnds{WindowEnd(ValueOfKey<V>(targets[0].Prefix), false),
                     WindowEnd(ValueOfKey<V>(targets[1].Prefix), true)};
}

} // namespace

std::optional<TWindowEnds> PercentileWindow(const THistogramSource& Source) {
  if (!Source.Bytes || Source.Count <= 0)
    return std::nullopt;
  return WithTypes(Source.Type, [&]<typename TT>(TT) {
    return SelectWindow<typename TT::Stored, typename TT::Value>(Source);
  });
}
