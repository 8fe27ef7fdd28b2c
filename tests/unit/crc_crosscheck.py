"""Checks our CRC against crcmod's CRC-16/KERMIT on the inputs crc_dump prints."""
import subprocess
import sys

import crcmod.predefined

kermit = crcmod.predefined.mkCrcFun("kermit")
out = subprocess.run([sys.argv[1]], check=True, capture_output=True, text=True).stdout
lines = out.splitlines()
assert len(lines) == 3000, len(lines)
bad = 0
for line in lines:
    data_hex, crc_hex = line.split()
    data = b"" if data_hex == "-" else bytes.fromhex(data_hex)
    if kermit(data) != int(crc_hex, 16):
        bad += 1
        print("mismatch:", line)
print(f"{len(lines)} inputs, {bad} mismatches")
sys.exit(1 if bad else 0)
