// Hands every command's answer handler to the packet receiver, by class.
#pragma once

// Sets them all. Every exchange calls it before it polls, so the answers
// it waits for reach their handlers whatever was set before. It holds the
// cable lock meanwhile: the receiver dispatches under that lock.
void handlers_register();
