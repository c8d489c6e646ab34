# DL/T 596-1996, the preventive test code for electric power equipment (电力设备预防性试验规程),
# bushings: the tanδ at 20 °C of capacitor bushings by type and voltage class, after an
# overhaul (大修后) and in service (运行中), and the change of their capacitance. Only the
# capacitor types are shipped: oil-impregnated paper (油纸电容型, class bushing-oip) and
# resin-bonded paper (胶纸电容型, class bushing-rbp). Left out: the oil-filled, compound-filled
# and resin-bonded non-capacitor types (充油型, 充胶型, 胶纸型), which have no class of their own;
# the oil-paper capacitor type at 220–500 kV after an overhaul, whose value the public copy
# misprints; the tap's tanδ; and the rise of tanδ with the test voltage.
#
# Where the two stages have one limit, a value above it is critical. Where they differ, a value
# above the in-service limit is critical, and one above only the stricter after-overhaul limit is
# to be investigated: the program does not know whether a result was taken after an overhaul.
title = DL/T 596-1996 preventive tests: capacitor bushings
source = DL/T 596 电力设备预防性试验规程, bushings (套管)
edition = 1996

[rule oip-20-35]
title = tanδ at 20 °C, oil-paper capacitor bushing, 20–35 kV
classes = bushing-oip
voltage = 20..35
stage = after overhaul and in service
measure = df20
critical = > 1.0

[rule oip-66-110]
title = tanδ at 20 °C, oil-paper capacitor bushing, 66–110 kV
classes = bushing-oip
voltage = 66..110
stage = after overhaul and in service
measure = df20
critical = > 1.0

[rule oip-220-500]
title = tanδ at 20 °C, oil-paper capacitor bushing, 220–500 kV
classes = bushing-oip
voltage = 220..500
stage = in service
measure = df20
critical = > 0.8

[rule rbp-20-35-overhaul]
title = tanδ at 20 °C, resin-bonded paper capacitor bushing, 20–35 kV
classes = bushing-rbp
voltage = 20..35
stage = after overhaul
measure = df20
investigate = > 2.0

[rule rbp-20-35-service]
title = tanδ at 20 °C, resin-bonded paper capacitor bushing, 20–35 kV
classes = bushing-rbp
voltage = 20..35
stage = in service
measure = df20
critical = > 3.0

[rule rbp-66-110]
title = tanδ at 20 °C, resin-bonded paper capacitor bushing, 66–110 kV
classes = bushing-rbp
voltage = 66..110
stage = after overhaul and in service
measure = df20
critical = > 1.5

[rule rbp-220-500]
title = tanδ at 20 °C, resin-bonded paper capacitor bushing, 220–500 kV
classes = bushing-rbp
voltage = 220..500
stage = after overhaul and in service
measure = df20
critical = > 1.0

# "电容型套管的电容值与出厂值或上一次试验值的差别超出±5%时，应查明原因": beyond ±5 % of the
# factory value (the reference: the nameplate, or the first result) or of the last test.
[rule capacitance-reference]
title = Capacitance of a capacitor bushing against the factory value
classes = bushing-oip bushing-rip bushing-rbp
measure = abs(capacitance-vs-reference)
investigate = > 5

[rule capacitance-previous]
title = Capacitance of a capacitor bushing against the last test
classes = bushing-oip bushing-rip bushing-rbp
measure = abs(capacitance-vs-previous)
investigate = > 5
