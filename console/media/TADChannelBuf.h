#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace console {

// One array of samples per channel (planar audio). Resize rebuilds the arrays
// only when the channel count changes or the capacity is too small.
template <typename T>
class TADChannelBuf {
public:
    TADChannelBuf() = default;
    virtual ~TADChannelBuf() = default;
    TADChannelBuf(const TADChannelBuf&) = delete;
    TADChannelBuf& operator=(const TADChannelBuf&) = delete;

    void Resize(int32_t samples, int32_t channels) {
        if (channels != m_nChannels || m_nCapacity < samples) {
            m_arrPlanes.clear();
            for (int32_t k = 0; k < channels; ++k) m_arrPlanes.push_back(std::make_unique<T[]>(samples));
            m_nChannels = channels;
            m_nCapacity = samples;
        }
        m_nSize = samples;
    }
    void Free() {
        m_arrPlanes.clear();
        m_nChannels = m_nSize = m_nCapacity = 0;
    }

    T* Plane(int32_t channel) { return m_arrPlanes[channel].get(); }
    int32_t Channels() const { return m_nChannels; }
    int32_t Size() const { return m_nSize; }
    int32_t Capacity() const { return m_nCapacity; }

private:
    std::vector<std::unique_ptr<T[]>> m_arrPlanes;
    int32_t m_nChannels = 0;
    int32_t m_nSize = 0;
    int32_t m_nCapacity = 0;
};

}  // namespace console
