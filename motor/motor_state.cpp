#include "motor/motor_state.hpp"

#include "motor/param_file.hpp"
#include "motor/tq_init.hpp"
#include "motor/tql_command.hpp"
#include "motor/uart_speed_switch.hpp"

void ResetMotorState() {
    ResetTqInit();
    ResetUartSpeedSwitch();
    ResetTqlCommandState();
    ResetParamFile();
}
