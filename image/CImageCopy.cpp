#include "image/CImageCopy.h"

#include <utility>

CImageCopy::CImageCopy(CImageCopy&& other) noexcept
    : m_Data(std::exchange(other.m_Data, nullptr)), m_Size(std::exchange(other.m_Size, 0)) {}

CImageCopy& CImageCopy::operator=(CImageCopy&& other) noexcept {
  if (this != &other) {
    Release();
    m_Data = std::exchange(other.m_Data, nullptr);
    m_Size = std::exchange(other.m_Size, 0);
  }
  return *this;
}
