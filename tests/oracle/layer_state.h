// Everything a layer exposes after an operation, compared bit for bit
// between a layer driven by its passes and its copy driven by their plain
// twins.
#pragma once

#include <string>

#include "tests/oracle/bit_compare.h"
#include "layers/conv_layer.h"
#include "layers/dense_layer.h"
#include "layers/dropout_layer.h"
#include "layers/maxpool_layer.h"
#include "layers/relu_layer.h"

namespace tavelin::oracle {

// Maps::Unwritten: the fast layer ran in a chain that keeps the maps
// between its convolution and its pooling to itself (LayerKernels::
// chain_leaves_maps), so the convolution's and rectifier's outputs and the
// rectifier's and pooling's input gradients are not compared.
enum class Maps { Written, Unwritten };

inline ::testing::AssertionResult same_layer_state(const Layer& fast, const Layer& plain, NaNs nans = NaNs::Exact,
                                                   Maps maps = Maps::Written) {
    if (fast.kind != plain.kind) return ::testing::AssertionFailure() << "kinds differ";
    auto check = [](::testing::AssertionResult r, ::testing::AssertionResult& first) {
        if (first && !r) first = r;
    };
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    const bool kept = maps == Maps::Unwritten;
    if (!(kept && (fast.kind == LayerKind::Conv || fast.kind == LayerKind::Relu)))
        check(same_tensor("output", fast.output, plain.output, nans), result);
    if (!(kept && (fast.kind == LayerKind::Relu || fast.kind == LayerKind::MaxPool)))
        check(same_tensor("input_grads", fast.input_grads, plain.input_grads, nans), result);
    switch (fast.kind) {
        case LayerKind::Conv: {
            const auto& f = static_cast<const ConvLayer&>(fast);
            const auto& p = static_cast<const ConvLayer&>(plain);
            if (f.filters.size() != p.filters.size()) return ::testing::AssertionFailure() << "filter counts differ";
            for (size_t k = 0; k < f.filters.size(); k++) {
                const std::string filter = "filter " + std::to_string(k);
                check(same_tensor(filter.c_str(), f.filters[k], p.filters[k], nans), result);
                const std::string cells = "cells of " + filter;
                check(same_cells(cells.c_str(), f.filter_grads[k].data, p.filter_grads[k].data,
                                 f.filter_grads[k].count(), nans),
                      result);
            }
            break;
        }
        case LayerKind::Dense: {
            const auto& f = static_cast<const DenseLayer&>(fast);
            const auto& p = static_cast<const DenseLayer&>(plain);
            check(same_tensor("weights", f.weights, p.weights, nans), result);
            if (f.sums.size() != p.sums.size() || f.gradients.size() != p.gradients.size())
                return ::testing::AssertionFailure() << "neuron counts differ";
            check(same_floats("sums", f.sums.data(), p.sums.data(), int64_t(f.sums.size()), nans), result);
            check(same_cells("gradients", f.gradients.data(), p.gradients.data(), int64_t(f.gradients.size()), nans),
                  result);
            break;
        }
        case LayerKind::Dropout: {
            const auto& f = static_cast<const DropoutLayer&>(fast);
            const auto& p = static_cast<const DropoutLayer&>(plain);
            if (f.mask.count() != p.mask.count() ||
                std::memcmp(f.mask.data, p.mask.data, size_t(f.mask.count())) != 0)
                check(::testing::AssertionFailure() << "dropout masks differ", result);
            break;
        }
        default: break;
    }
    return result;
}

}  // namespace tavelin::oracle
