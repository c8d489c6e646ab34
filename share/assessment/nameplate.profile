# The specimen held against its own reference: the nameplate values where the specimen has them
# (and wants them), else its first result. The numbers are the general guidelines for capacitor
# bushings (C1) that public test-set manuals cite from IEEE Std 62-1995 and the U.S. Bureau of
# Reclamation's FIST Volume 3-2 (1991). They name no level for a change of exactly 5 % or 10 %,
# or a ratio of exactly 2 or 3: here each of those points is to be investigated.
title = The specimen against its nameplate or first result
source = IEEE Std 62; USBR FIST Volume 3-2 (as public test-set manuals cite them for bushings)
edition = 1995; 1991

[rule capacitance]
title = Capacitance change from the reference
classes = all
measure = abs(capacitance-vs-reference)
# below 5 %: acceptable; 5 % to 10 %: to be investigated; above 10 %: critical
investigate = >= 5
critical = > 10

[rule dissipation]
title = Dissipation factor against the reference
classes = all
measure = df-ratio-vs-reference
# below 2×: acceptable; 2× to 3×: to be investigated; above 3×: critical
investigate = >= 2
critical = > 3
