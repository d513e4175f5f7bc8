// The message name catalogue. Entries stand in catalogue order, in runs of
// the same first component; a name that stands twice or three times keeps
// every place, and a lookup always stops at its first. Each identifier is
// computed from its literal by the entry's constructor while the library
// loads.
#include <skarvel/catalogue/message_name_list.h>

#include <cstdint>

namespace {

using entry = tm_msg_name_entry;

constexpr tm_fixed_string unknown_name("unknown");

}  // namespace

// Made from a temporary list of the 418 entries: one allocation of exactly
// that many, then a copy in list order. Destroyed with the library's other
// static objects when it unloads.
const std::vector<tm_msg_name_entry> message_name_list{
    // entries 1 to 32
    entry("Aircraft.Altitude"),
    entry("Aircraft.VerticalSpeed"),
    entry("Aircraft.Pitch"),
    entry("Aircraft.Bank"),
    entry("Aircraft.IndicatedAirspeed"),
    entry("Aircraft.GroundSpeed"),
    entry("Aircraft.MagneticHeading"),
    entry("Aircraft.TrueHeading"),
    entry("Aircraft.Latitude"),
    entry("Aircraft.Longitude"),
    entry("Aircraft.Height"),
    entry("Aircraft.Position"),
    entry("Aircraft.Orientation"),
    entry("Aircraft.Velocity"),
    entry("Aircraft.AngularVelocity"),
    entry("Aircraft.Acceleration"),
    entry("Aircraft.Gravity"),
    entry("Aircraft.Wind"),
    entry("Aircraft.RateOfTurn"),
    entry("Aircraft.MachNumber"),
    entry("Aircraft.Gear"),
    entry("Aircraft.Flaps"),
    entry("Aircraft.Throttle"),
    entry("Aircraft.AirBrake"),
    entry("Aircraft.RadarAltitude"),
    entry("Aircraft.Name"),
    entry("Aircraft.NearestAirport"),
    entry("Aircraft.Category.Jet"),
    entry("Aircraft.Category.Glider"),
    entry("Aircraft.OnGround"),
    entry("Aircraft.OnRunway"),
    entry("Aircraft.Crashed"),

    // entries 33 to 37
    entry("Performance.Speed.VS0"),
    entry("Performance.Speed.VS1"),
    entry("Performance.Speed.VFE"),
    entry("Performance.Speed.VNO"),
    entry("Performance.Speed.VNE"),

    // entries 38 to 54
    entry("Navigation.NAV1Frequency"),
    entry("Navigation.NAV1StandbyFrequency"),
    entry("Navigation.NAV1FrequencySwap"),
    entry("Navigation.DMEFrequency1"),
    entry("Navigation.NAV2Frequency"),
    entry("Navigation.NAV2StandbyFrequency"),
    entry("Navigation.NAV2FrequencySwap"),
    entry("Navigation.ADF1Frequency"),
    entry("Navigation.ADF1StandbyFrequency"),
    entry("Navigation.COM1Frequency"),
    entry("Navigation.COM1StandbyFrequency"),
    entry("Navigation.COM1FrequencySwap"),
    entry("Navigation.COM2Frequency"),
    entry("Navigation.COM2StandbyFrequency"),
    entry("Navigation.COM2FrequencySwap"),
    entry("Navigation.SelectedCourse1"),
    entry("Navigation.SelectedCourse2"),

    // entries 55 to 69
    entry("Autopilot.Master"),
    entry("Autopilot.Disengage"),
    entry("Autopilot.Heading"),
    entry("Autopilot.VerticalSpeed"),
    entry("Autopilot.SelectedSpeed"),
    entry("Autopilot.SelectedAirspeed"),
    entry("Autopilot.SelectedHeading"),
    entry("Autopilot.SelectedAltitude"),
    entry("Autopilot.SelectedVerticalSpeed"),
    entry("Autopilot.Engaged"),
    entry("Autopilot.ActiveLateralMode"),
    entry("Autopilot.ArmedLateralMode"),
    entry("Autopilot.ActiveVerticalMode"),
    entry("Autopilot.ArmedVerticalMode"),
    entry("Autopilot.ActiveAutoThrottleMode"),

    // entries 70 to 71
    entry("FlightDirector.Pitch"),
    entry("FlightDirector.Bank"),

    // entries 72 to 79
    entry("Copilot.Heading"),
    entry("Copilot.Altitude"),
    entry("Copilot.Airspeed"),
    entry("Copilot.VerticalSpeed"),
    entry("Copilot.Aileron"),
    entry("Copilot.Elevator"),
    entry("Copilot.Throttle"),
    entry("Copilot.AutoRudder"),

    // entries 80 to 127
    entry("Controls.Speed"),
    entry("Controls.Throttle1"),
    entry("Controls.Throttle2"),
    entry("Controls.Throttle3"),
    entry("Controls.Throttle4"),
    entry("Controls.Throttle1"),  // again
    entry("Controls.Throttle2"),  // again
    entry("Controls.Throttle3"),  // again
    entry("Controls.Throttle4"),  // again
    entry("Controls.Pitch.Input"),
    entry("Controls.Pitch.Input"),  // again
    entry("Controls.Roll.Input"),
    entry("Controls.Roll.Input"),  // again
    entry("Controls.Yaw.Input"),
    entry("Controls.Yaw.Input"),  // again
    entry("Controls.Flaps"),
    entry("Controls.Flaps"),  // again
    entry("Controls.Gear"),
    entry("Controls.Gear"),  // again
    entry("Controls.WheelBrake.Left"),
    entry("Controls.WheelBrake.Right"),
    entry("Controls.WheelBrake.Left"),  // again
    entry("Controls.WheelBrake.Right"),  // again
    entry("Controls.AirBrake"),
    entry("Controls.AirBrake"),  // again
    entry("Controls.GliderAirBrake"),
    entry("Controls.PropellerSpeed1"),
    entry("Controls.PropellerSpeed2"),
    entry("Controls.PropellerSpeed3"),
    entry("Controls.PropellerSpeed4"),
    entry("Controls.Mixture1"),
    entry("Controls.Mixture2"),
    entry("Controls.Mixture3"),
    entry("Controls.Mixture4"),
    entry("Controls.ThrustReverse1"),
    entry("Controls.ThrustReverse2"),
    entry("Controls.ThrustReverse3"),
    entry("Controls.ThrustReverse4"),
    entry("Controls.Trim"),
    entry("Controls.Trim"),  // again
    entry("Controls.Trim"),  // again
    entry("Controls.AileronTrim"),
    entry("Controls.RudderTrim"),
    entry("Controls.Tiller"),
    entry("Controls.PedalsDisconnect"),
    entry("Controls.NoseWheelSteering"),
    entry("Controls.Lighting.Panel"),
    entry("Controls.Lighting.Instruments"),

    // entries 128 to 157
    entry("View.DisplayName"),
    entry("View.Internal"),
    entry("View.Follow"),
    entry("View.External"),
    entry("View.Category"),
    entry("View.Mode"),
    entry("View.Zoom"),
    entry("View.Pan.Horizontal"),
    entry("View.Pan.Horizontal"),  // again
    entry("View.Pan.Vertical"),
    entry("View.Pan.Vertical"),  // again
    entry("View.Pan.Center"),
    entry("View.Look.Horizontal"),
    entry("View.Look.Vertical"),
    entry("View.Roll"),
    entry("View.OffsetX"),
    entry("View.OffsetX"),  // again
    entry("View.OffsetY"),
    entry("View.OffsetY"),  // again
    entry("View.OffsetZ"),
    entry("View.OffsetZ"),  // again
    entry("View.Position"),
    entry("View.Direction"),
    entry("View.Up"),
    entry("View.FieldOfView"),
    entry("View.AspectRatio"),
    entry("View.FreePosition"),
    entry("View.FreeLookDirection"),
    entry("View.FreeUp"),
    entry("View.FreeFieldOfView"),

    // entries 158 to 175
    entry("Simulation.Pause"),
    entry("Simulation.FlightInformation"),
    entry("Simulation.MovingMap"),
    entry("Simulation.Sound"),
    entry("Simulation.LiftUp"),
    entry("Simulation.SettingPosition"),
    entry("Simulation.SettingOrientation"),
    entry("Simulation.SettingVelocity"),
    entry("Simulation.SettingSet"),
    entry("Simulation.TimeChange"),
    entry("Simulation.Visibility"),
    entry("Simulation.Time"),
    entry("Simulation.UseMouseControl"),
    entry("Simulation.PlaybackStart"),
    entry("Simulation.PlaybackStop"),
    entry("Simulation.PlaybackPosition"),
    entry("Simulation.ExternalPosition"),
    entry("Simulation.ExternalOrientation"),

    // entries 176 to 185
    entry("Command.Execute"),
    entry("Command.Back"),
    entry("Command.Up"),
    entry("Command.Down"),
    entry("Command.Left"),
    entry("Command.Right"),
    entry("Command.MoveHorizontal"),
    entry("Command.MoveVertical"),
    entry("Command.Rotate"),
    entry("Command.Zoom"),

    // entries 186 to 204
    entry("Aircraft.Aileron"),
    entry("Aircraft.AileronForceFree"),
    entry("Aircraft.AileronTrim"),
    entry("Aircraft.AngleOfAttack"),
    entry("Aircraft.AngularAcceleration"),
    entry("Aircraft.BrakePosition"),
    entry("Aircraft.Collective"),
    entry("Aircraft.Elevator"),
    entry("Aircraft.ElevatorForceFree"),
    entry("Aircraft.ElevatorForceGradient"),
    entry("Aircraft.IndicatedAirspeedTrend"),
    entry("Aircraft.Mass"),
    entry("Aircraft.PowerSetting"),
    entry("Aircraft.Rudder"),
    entry("Aircraft.RudderTrim"),
    entry("Aircraft.ThrottleLimit"),
    entry("Aircraft.Trim"),
    entry("Aircraft.TrimValue"),
    entry("Aircraft.YawDamperEnabled"),

    // entries 205 to 260
    entry("Autopilot.Aileron"),
    entry("Autopilot.Altitude"),
    entry("Autopilot.AltitudeArm"),
    entry("Autopilot.AltitudeHold"),
    entry("Autopilot.AltitudeIntervention"),
    entry("Autopilot.AltitudeScale"),
    entry("Autopilot.Approach"),
    entry("Autopilot.ArmedApproachMode"),
    entry("Autopilot.BackCourse"),
    entry("Autopilot.BankLimit"),
    entry("Autopilot.DN"),
    entry("Autopilot.Elevator"),
    entry("Autopilot.Expedite"),
    entry("Autopilot.FlightDirector"),
    entry("Autopilot.FlightDirector0"),
    entry("Autopilot.FlightDirector1"),
    entry("Autopilot.FlightDirectorClear"),
    entry("Autopilot.FlightDirectorClear0"),
    entry("Autopilot.FlightDirectorClear1"),
    entry("Autopilot.FlightLevelChange"),
    entry("Autopilot.HeadingHold"),
    entry("Autopilot.Localizer"),
    entry("Autopilot.ManagedAltitude"),
    entry("Autopilot.ManagedHeading"),
    entry("Autopilot.ManagedSpeed"),
    entry("Autopilot.Master0"),
    entry("Autopilot.Master1"),
    entry("Autopilot.Master2"),
    entry("Autopilot.Navigation"),
    entry("Autopilot.NavigationSourceCopilot"),
    entry("Autopilot.NavigationSourcePilot"),
    entry("Autopilot.Reverse"),
    entry("Autopilot.Rudder"),
    entry("Autopilot.SelectedAltitudeScale"),
    entry("Autopilot.SelectedChange"),
    entry("Autopilot.SelectedMachNumber"),
    entry("Autopilot.SelectedVerticalSpeedZero"),
    entry("Autopilot.Speed"),
    entry("Autopilot.SpeedIntervention"),
    entry("Autopilot.SpeedManaged"),
    entry("Autopilot.TakeOffGoAround"),
    entry("Autopilot.Throttle"),
    entry("Autopilot.ThrottleArm"),
    entry("Autopilot.ThrottleCommand"),
    entry("Autopilot.ThrottleDisengage"),
    entry("Autopilot.ThrottleEngaged"),
    entry("Autopilot.Thrust"),
    entry("Autopilot.TouchControlSteering"),
    entry("Autopilot.Type"),
    entry("Autopilot.UP"),
    entry("Autopilot.UseFlightPathAngle"),
    entry("Autopilot.UseMachNumber"),
    entry("Autopilot.UseTrack"),
    entry("Autopilot.UseTrackFlightPathAngle"),
    entry("Autopilot.Vertical"),
    entry("Autopilot.VerticalNavigation"),

    // entries 261 to 263
    entry("Command.SelectHorizontal"),
    entry("Command.SelectVertical"),
    entry("Command.VirtualRealityCenter"),

    // entries 264 to 276
    entry("Communication.ATCGo"),
    entry("Communication.ATCNegative"),
    entry("Communication.COM1Frequency"),
    entry("Communication.COM1FrequencySwap"),
    entry("Communication.COM1StandbyFrequency"),
    entry("Communication.COM2Frequency"),
    entry("Communication.COM2FrequencySwap"),
    entry("Communication.COM2StandbyFrequency"),
    entry("Communication.TransponderClear"),
    entry("Communication.TransponderCode"),
    entry("Communication.TransponderCursor"),
    entry("Communication.TransponderDigit"),
    entry("Communication.TransponderVFR"),

    // entries 277 to 305
    entry("Controls.AirBrake.Arm"),
    entry("Controls.AutoBrake.RejectedTakeOff"),
    entry("Controls.AutoBrake.Strength"),
    entry("Controls.Clutch"),
    entry("Controls.Collective"),
    entry("Controls.CoolingCowl"),
    entry("Controls.CyclicPitch"),
    entry("Controls.CyclicRoll"),
    entry("Controls.FuelPump"),
    entry("Controls.Governor"),
    entry("Controls.HelicopterThrottle"),
    entry("Controls.Hook"),
    entry("Controls.Lighting.Beacon"),
    entry("Controls.Lighting.InboardLanding"),
    entry("Controls.Lighting.Landing"),
    entry("Controls.Lighting.Navigation"),
    entry("Controls.Lighting.OutboardLanding"),
    entry("Controls.Lighting.Strobe"),
    entry("Controls.Lighting.Taxi"),
    entry("Controls.Magnetos"),
    entry("Controls.MirrorTiltLeftRight"),
    entry("Controls.MirrorTiltUpDown"),
    entry("Controls.ParkingBrake"),
    entry("Controls.PitotHeat"),
    entry("Controls.RemoteHook"),
    entry("Controls.RotorBrake"),
    entry("Controls.SteeringRange"),
    entry("Controls.TailRotor"),
    entry("Controls.TailWheelSteering"),

    // entries 306 to 341
    entry("Copilot.AutoAirBrake"),
    entry("Copilot.AutoBrake"),
    entry("Copilot.AutoCheckList"),
    entry("Copilot.AutoEngine"),
    entry("Copilot.AutoFlap"),
    entry("Copilot.AutoGear"),
    entry("Copilot.AutoTrim"),
    entry("Copilot.AutoTuning"),
    entry("Copilot.AutoWarningMuteTime"),
    entry("Copilot.Bank"),
    entry("Copilot.Center"),
    entry("Copilot.Down"),
    entry("Copilot.Engaged"),
    entry("Copilot.Faster"),
    entry("Copilot.Landing"),
    entry("Copilot.LandingAvailable"),
    entry("Copilot.LateralMode"),
    entry("Copilot.Left"),
    entry("Copilot.Master"),
    entry("Copilot.Pitch"),
    entry("Copilot.Profi"),
    entry("Copilot.Right"),
    entry("Copilot.Route"),
    entry("Copilot.RouteAvailable"),
    entry("Copilot.Rudder"),
    entry("Copilot.RudderAssist"),
    entry("Copilot.SelectedAirspeed"),
    entry("Copilot.SelectedAltitude"),
    entry("Copilot.SelectedHeading"),
    entry("Copilot.SelectedVerticalSpeed"),
    entry("Copilot.Slower"),
    entry("Copilot.Takeoff"),
    entry("Copilot.TakeoffAvailable"),
    entry("Copilot.ThrottleMode"),
    entry("Copilot.Up"),
    entry("Copilot.VerticalMode"),

    // entries 342 to 346
    entry("Description.Hint.AileronGain"),
    entry("Description.Hint.ElevatorGain"),
    entry("Description.Hint.RudderGain"),
    entry("Description.Performance.MaximumSpeed"),
    entry("Description.Performance.MinimumSpeed"),

    // entries 347 to 372
    entry("Game.Calibration"),
    entry("Game.Developer.Reposition.Heading"),
    entry("Game.Developer.Reposition.R"),
    entry("Game.Developer.Reposition.Speed"),
    entry("Game.Developer.ShowGeometry"),
    entry("Game.FlightDirector.Altitude"),
    entry("Game.FlightDirector.Bank"),
    entry("Game.FlightDirector.Brake"),
    entry("Game.FlightDirector.Flaps"),
    entry("Game.FlightDirector.Gear"),
    entry("Game.FlightDirector.Heading"),
    entry("Game.FlightDirector.Pitch"),
    entry("Game.FlightDirector.Power"),
    entry("Game.FlightDirector.Speed"),
    entry("Game.FlightDisplay.Altitude"),
    entry("Game.FlightDisplay.Attitude"),
    entry("Game.FlightDisplay.Focus"),
    entry("Game.FlightDisplay.Speed"),
    entry("Game.Mission"),
    entry("Game.Mission.Control"),
    entry("Game.Mission.Finished"),
    entry("Game.Mission.HideAutopilot"),
    entry("Game.Mission.HideControls"),
    entry("Game.Mission.ShowHelpButton"),
    entry("Game.Pause"),
    entry("Game.TiltControl"),

    // entries 373 to 389
    entry("Navigation.ADF1FrequencySwap"),
    entry("Navigation.ADF2Frequency"),
    entry("Navigation.ADF2FrequencySwap"),
    entry("Navigation.ADF2StandbyFrequency"),
    entry("Navigation.DMEFrequency"),
    entry("Navigation.DMEStandbyFrequency"),
    entry("Navigation.DME1Distance"),
    entry("Navigation.DME2Distance"),
    entry("Navigation.ILS1Course"),
    entry("Navigation.ILS1Frequency"),
    entry("Navigation.ILS1FrequencySwap"),
    entry("Navigation.ILS1StandbyFrequency"),
    entry("Navigation.ILS2Course"),
    entry("Navigation.ILS2Frequency"),
    entry("Navigation.ILS2FrequencySwap"),
    entry("Navigation.ILS2StandbyFrequency"),
    entry("Navigation.NAV1Identifier"),

    // entries 390 to 393
    entry("Performance.Speed.Maximum"),
    entry("Performance.Speed.MaximumFlapExtension"),
    entry("Performance.Speed.Minimum"),
    entry("Performance.Speed.MinimumFlapRetraction"),

    // entries 394 to 409
    entry("Simulation.HUD"),
    entry("Simulation.Landmarks"),
    entry("Simulation.Monitoring"),
    entry("Simulation.OverlaySelection"),
    entry("Simulation.Parameter0"),
    entry("Simulation.Parameter1"),
    entry("Simulation.Parameter2"),
    entry("Simulation.Parameter3"),
    entry("Simulation.PlaybackBack"),
    entry("Simulation.PlaybackPosition"),  // again
    entry("Simulation.ReloadAircraft"),
    entry("Simulation.Reposition"),
    entry("Simulation.ShowControlObjects"),
    entry("Simulation.TakeSceenshot"),  // spelt so: a name of its own
    entry("Simulation.TakeScreenshot"),
    entry("Simulation.TakeScreenshotNoInfo"),

    // entries 410 to 411
    entry("Simulator.OverlayLeft"),  // "Simulator", not "Simulation"
    entry("Simulator.OverlayRight"),

    // entries 412 to 415
    entry("View.Altitude"),
    entry("View.GroundHeight"),
    entry("View.Option"),
    entry("View.PostOffset"),

    // entries 416 to 418
    entry("Warnings.MasterWarningPilot"),
    entry("Warnings.WarningActive"),
    entry("Warnings.WarningMute"),
};

tm_fixed_string get_message_name(const tm_external_message& message) noexcept
{
    const std::uint64_t id = message.GetID();
    for (const tm_msg_name_entry& e : message_name_list) {
        if (e.identifier.GetValue() == id) return e.name;
    }
    return unknown_name;
}
