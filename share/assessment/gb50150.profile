# GB 50150-2016, the commissioning test code (电气装置安装工程 电气设备交接试验标准), as far as
# its numbers could be confirmed from public copies of its text: the capacitor voltage
# transformer of 10.0.13. Its bushing table (tanδ by insulation type) is not shipped: no public
# copy of it could be confirmed. "不宜超过" (should not exceed) is taken as "investigate",
# "不应大于" (shall not exceed) as "critical".
title = GB 50150-2016 commissioning tests
source = GB 50150 电气装置安装工程 电气设备交接试验标准, 10.0.13 capacitor voltage transformers
edition = 2016

[rule cvt-capacitance]
title = CVT divider capacitance against the rated value
classes = cvt
measure = capacitance-vs-nameplate
# "不宜超过 −5 % ～ 10 %": within −5 % to +10 % of the rated capacitance, both ends included
investigate = < -5
investigate = > 10

[rule cvt-tan-delta]
title = CVT divider tanδ
classes = cvt
measure = df20
# "不应大于 0.2 %": at most 0.2 %
critical = > 0.2
