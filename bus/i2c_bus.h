// Bit-bang I2C bus master on the data pins of a USB adapter: pin 0 drives SCL, pin 1 pulls SDA
// low or releases it (open drain), pin 2 senses the SDA line. Every primitive hands all of its
// steps to the adapter in one write, so pulse timing comes from the adapter's bit-bang clock.
// Single master, no clock stretching, 7-bit addresses only.
#pragma once

// Pin-state byte: one per waveform step.
inline constexpr int kPinScl = 0x01;       // output: SCL, 1 = high
inline constexpr int kPinSdaDrive = 0x02;  // output: 1 = SDA released, 0 = SDA pulled low
inline constexpr int kPinSdaSense = 0x04;  // input: the level of the SDA line

// Binds the driver library, opens the first adapter, sets its step rate and bit-bang mode and
// checks that the SDA drive pin reads back what is written. 0 when the bus is ready, else 1.
// Nothing is undone on failure. Call once, before any other operation.
int I2C_Init();

// The write primitives return the adapter's write status (0 = success).
int I2C_Start();
int I2C_Stop();
int I2C_WriteByte(int value);  // bits 7..0, bit 7 first; the acknowledge is not clocked
int I2C_SendAck(int nack);     // bit 0: 0 = acknowledge, 1 = not-acknowledge
int I2C_WritePins(int value);  // one raw pin-state byte

// One clock with SDA released, sampling the line while SCL is high: 0 or 1. Serves as a slave's
// acknowledge (0 = acknowledged), a data bit, or the master's not-acknowledge.
int I2C_ReadBit();
int I2C_ReadByte();  // eight bit inputs, the first one is bit 7
int I2C_ReadSda();   // the SDA line now: 0 or 1
