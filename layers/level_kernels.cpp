// One level's table of fast passes (see lanes.h).
#include "layers/lanes.h"

namespace tavelin::TAVELIN_LEVEL {

const LayerKernels kernels = {
    TAVELIN_LEVEL_NAME,
    forward_conv_lanes,  backward_conv_lanes,  update_conv_lanes,
    forward_dense_lanes, backward_dense_lanes, update_dense_lanes,
    forward_relu_lanes,  backward_relu_lanes,
    forward_maxpool_lanes, backward_maxpool_lanes,
    forward_chain_lanes, backward_chain_lanes,
    chain_by_position,
};

}  // namespace tavelin::TAVELIN_LEVEL
