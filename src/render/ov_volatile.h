// Device resources that must be rebuilt after a lost device. An object adds
// itself to its renderer's list when made and removes itself when destroyed;
// the renderer tells the newest first.
#pragma once

class OvRendererGL;

class OvVolatileRes {
 public:
  OvVolatileRes(const OvVolatileRes&) = delete;
  OvVolatileRes& operator=(const OvVolatileRes&) = delete;

  // Recreate what OnDeviceLost freed.
  virtual void OnDeviceReset() = 0;
  // Free every device object before the device is reset.
  virtual void OnDeviceLost() = 0;

  OvRendererGL* Renderer() const { return m_renderer; }

 protected:
  // A null renderer registers nowhere.
  explicit OvVolatileRes(OvRendererGL* renderer);
  virtual ~OvVolatileRes();

 private:
  friend class OvRendererGL;
  OvRendererGL* m_renderer;
  OvVolatileRes* m_prev = nullptr;
  OvVolatileRes* m_next = nullptr;
};
