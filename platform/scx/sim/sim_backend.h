// The simulated world as an SCX backend: every member answers as
// scxsim_semantics.h says. The members live in scx_chain.cpp (hardware and
// chains) and scx_device.cpp (opened devices).
#ifndef SCXSIM_SIM_BACKEND_H
#define SCXSIM_SIM_BACKEND_H

#include "core/backend.h"

namespace scxsim {
namespace detail {

class SimBackend final : public scx::Backend {
  public:
    const char *name() const override { return "sim"; }
    const char *startup_failure() override;

    SCX_ERROR get_hardware(unsigned long *count, SCX_HARDWARE *records, unsigned long timeout) override;
    SCX_ERROR find_hardware(const char *full_name, SCX_HARDWARE *record, unsigned long timeout) override;
    SCX_ERROR print_hardware_name(SCX_CHAIN *chain, char *buffer, unsigned long size, bool long_name,
                                  unsigned long *length) override;
    SCX_ERROR lock_chain(SCX_CHAIN *chain, unsigned long timeout) override;
    SCX_ERROR unlock_chain(SCX_CHAIN *chain) override;
    SCX_ERROR scan_device_chain(SCX_CHAIN *chain) override;
    SCX_ERROR read_device_chain(SCX_CHAIN *chain, unsigned long *count, SCX_DEVICE *records, bool flag) override;
    SCX_ERROR open_device(SCX_CHAIN *chain, unsigned long position, SCX_OPEN **handle, const SCX_CLAIM *claims,
                          unsigned long claim_count, const char *application) override;
    SCX_ERROR close_device(SCX_OPEN *handle) override;
    SCX_ERROR lock(SCX_OPEN *handle, unsigned long timeout, SCX_PACK_STYLE style) override;
    SCX_ERROR unlock(SCX_OPEN *handle) override;
    SCX_ERROR access_ir(SCX_OPEN *handle, unsigned long instruction, unsigned long *captured,
                        unsigned long flags) override;
    SCX_ERROR access_dr(SCX_OPEN *handle, unsigned long length, unsigned long flags, unsigned long write_offset,
                        unsigned long write_length, const unsigned char *write_bits, unsigned long read_offset,
                        unsigned long read_length, unsigned char *read_bits) override;
    SCX_ERROR run_test_idle(SCX_OPEN *handle, unsigned long count) override;
    SCX_ERROR delay(SCX_OPEN *handle, unsigned long amount) override;
    SCX_ERROR flush(SCX_OPEN *handle) override;
};

} // namespace detail
} // namespace scxsim

#endif
