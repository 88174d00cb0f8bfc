// Clock/calendar with the PCF8583 register map, one of two on the bus chosen by bit 0 of a
// device number (device address 1010 00 A0 R/W): start the count, set and read the time of day
// with the weekday, read or write any single register. Date, alarms and timer are left to
// CLOCK_ReadRegister / CLOCK_WriteRegister.
#pragma once

// Result codes of the clock operations.
inline constexpr int kClockDone = 0;
inline constexpr int kClockNotAcknowledged = 1;

// Writes 0x00 to the control/status register: the stop bit clear, the clock counts.
int CLOCK_Start(int device);

// Stops the count, writes hundredths 0, the time and the weekday, writes the date as day 1,
// month 0, year 0, and starts the count again with a second transaction. Fields out of range
// are clamped: weekday to 0..6, hours to 0..23, minutes and seconds to 0..59. When the first
// transaction fails, no restart is sent, so the clock may be left stopped.
int CLOCK_SetTime(int device, int weekday, int hours, int minutes, int seconds);

// Reads seconds, minutes, hours (24-hour form) and weekday. All four outputs are set to 0 before
// any bus traffic and keep it when a byte is not acknowledged. The BCD digits are not checked.
int CLOCK_GetTime(int device, int* weekday, int* hours, int* minutes, int* seconds);

// Writes value & 0xFF into register reg & 0xFF.
int CLOCK_WriteRegister(int device, int reg, int value);

// Reads register reg & 0xFF. *value is set to 0 before any bus traffic and to the byte read on
// success.
int CLOCK_ReadRegister(int device, int reg, int* value);
