// The built-in board: the world when no board file is named.
#include "scxsim.h"

namespace scxsim {

std::string default_board_json() {
    return R"({
  "cables": [
    {
      "persistent_id": 1,
      "name": "SimCable-1",
      "full_name": "SimCable-1 [sim:1]",
      "flags": 0,
      "devices": [
        {
          "name": "SIM-FPGA-A",
          "idcode": "0x020A10DD",
          "ir_length": 10,
          "hub": {
            "version": 1,
            "ir_width": 8,
            "manufacturer": 110,
            "nodes": [
              { "model": "memory", "depth": 256, "width": 32,
                "manufacturer": 110, "node_id": 1, "version": 1, "instance": 0 },
              { "model": "stream",
                "manufacturer": 110, "node_id": 2, "version": 1, "instance": 0 },
              { "model": "probe", "probe_width": 32, "source_width": 32,
                "manufacturer": 110, "node_id": 3, "version": 1, "instance": 0 },
              { "model": "shift", "registers": { "1": 8, "2": 32 },
                "manufacturer": 110, "node_id": 4, "version": 1, "instance": 0 }
            ]
          }
        },
        {
          "name": "SIM-CPLD",
          "idcode": "0x0A1B2C3D",
          "ir_length": 8
        },
        {
          "name": "SIM-FPGA-OLD",
          "idcode": "0x12345093",
          "ir_length": 10,
          "hub": {
            "version": 2,
            "ir_width": 8,
            "manufacturer": 110,
            "nodes": [
              { "model": "shift", "manufacturer": 110, "node_id": 4, "version": 1, "instance": 0 }
            ]
          }
        }
      ]
    },
    {
      "persistent_id": 2,
      "name": "SimCable-2",
      "full_name": "SimCable-2 [sim:2]",
      "flags": 0,
      "devices": [
        {
          "name": "SIM-FPGA-B",
          "idcode": "0x02B150DD",
          "ir_length": 10,
          "hub": {
            "version": 0,
            "ir_width": 6,
            "manufacturer": 110,
            "nodes": [
              { "model": "memory", "depth": 64, "width": 16,
                "manufacturer": 110, "node_id": 1, "version": 1, "instance": 0 },
              { "model": "shift", "registers": { "1": 16 },
                "manufacturer": 110, "node_id": 4, "version": 1, "instance": 0 }
            ]
          }
        }
      ]
    }
  ]
}
)";
}

} // namespace scxsim
