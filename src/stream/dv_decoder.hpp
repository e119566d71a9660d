// Ownership of libdv's decoder object.
#ifndef TAPESTAMP_STREAM_DV_DECODER_HPP_
#define TAPESTAMP_STREAM_DV_DECODER_HPP_

#include <libdv/dv.h>

#include <memory>

namespace tapestamp {

struct dv_decoder_deleter {
  void operator()(dv_decoder_t* decoder) const noexcept { dv_decoder_free(decoder); }
};
using dv_decoder_ptr = std::unique_ptr<dv_decoder_t, dv_decoder_deleter>;

}  // namespace tapestamp

#endif  // TAPESTAMP_STREAM_DV_DECODER_HPP_
